// The register's paper tape and customer display as a person would see them:
// the model's printed items laid out at the printer's width, in UTF-8.
//
// The renderer keeps no state: each item carries what its lines need, so a
// reader that starts late or misses items still lays out the rest right.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/register_model.h"

namespace km4410r::sim {

class Simulator;

inline constexpr int kPaperWidth = 40;    // characters a paper line holds
inline constexpr int kDisplayWidth = 20;  // characters a display row holds

// The cut line: "- - - ... 8< - - - ...", kPaperWidth characters.
const std::string& cutLine();
// True for the items whose last line is a cut (the cutter after a document,
// and the cut command).
bool endsWithCut(const PrintedItem& item);

// The lines an item puts on the paper, each ending with '\n' and at most
// kPaperWidth characters long; empty for a display change.
std::string paperText(const PrintedItem& item);
// A display change: its time and the two rows between bars, two lines.
std::string displayText(const PrintedItem& item);
// The line that stands for items a reader missed.
std::string missedText(uint64_t count);

// A reader of the simulator's printed items: each take() hands out those
// since the previous one. The model is locked only to copy them.
class PrintedFeed {
 public:
  std::vector<PrintedItem> take(Simulator& sim, uint64_t* missed = nullptr);

 private:
  uint64_t seen_ = 0;
};

}  // namespace km4410r::sim
