// The exchange trace: an optional observer that the driver tells about every
// exchange it makes, with the frame sent, the bytes received and when each
// came, the receive machine's verdict and the decoded record.
//
// One observer at a time, set and cleared by the caller. Without one the
// driver records nothing. The observer is called on the thread that called
// SendCommand, after the record is decoded and before the result handler runs;
// every pointer in the trace is valid only during the call.
#pragma once
#include <cstdint>

#include "driver/printer.h"

// How the exchange ended, as the receive machine saw it.
enum TraceVerdict : int {
  kTraceAnswer = 0,    // a complete frame with a correct checksum
  kTraceChecksum = 1,  // a complete frame whose checksum is wrong
  kTraceRefused = 2,   // the register refused the frame (NAK)
  kTraceSilence = 3,   // no complete answer within the wait
};

// Received bytes kept per exchange; an exchange with more (endless noise)
// keeps the first ones and counts the rest.
constexpr int kTraceMaxReceived = 4096;

struct ExchangeTrace {
  int64_t sentAtMs;          // wall-clock time of the send, ms since 1970 (UTC)
  int durationMs;            // from the send to the end of the exchange
  int command;               // command code
  uint8_t seq;               // SEQ byte of the frame as on the line (0x20..0x7E)
  bool written;              // the frame went out (false: port not open, line stalled)
  const uint8_t* frame;      // the frame as written, translated, checksummed
  int frameLength;
  const uint8_t* received;   // the bytes read, in order, SYN and noise included
  const uint32_t* receivedAtMs;  // for each byte: ms after the send
  int receivedLength;        // bytes kept (at most kTraceMaxReceived)
  int receivedTotal;         // bytes read in all
  TraceVerdict verdict;
  const RetData* answer;     // the decoded record, as the handler gets it
  // The link (see GetLinkStatus): the port was opened again before this
  // exchange, this exchange found the link gone, and the reason of either
  // (or why opening it again failed, when neither happened and the link is
  // down: then nothing went out).
  bool linkReturned;
  bool linkDropped;
  PortError linkError;
};

using ExchangeObserver = void (*)(const ExchangeTrace& trace, void* context);

// Sets the observer (null clears it). `context` is passed back unchanged.
void SetExchangeObserver(ExchangeObserver observer, void* context);
// The observer set now (null: none) and its context, so that a second user
// of the trace can pass every exchange on to the first and put it back.
ExchangeObserver GetExchangeObserver(void** context);

// One place on the observer chain, for a user that passes every exchange on
// to the observer set before it: Attach puts `observer` in front, Forward
// passes an exchange on to the one before, Detach puts that one back, but
// only while this place is still in front (one set after it stays).
class ExchangeHook {
 public:
  ExchangeHook() = default;
  ExchangeHook(const ExchangeHook&) = delete;
  ExchangeHook& operator=(const ExchangeHook&) = delete;
  ~ExchangeHook() { Detach(); }

  void Attach(ExchangeObserver observer, void* context) {
    if (observer_) return;
    previous_ = GetExchangeObserver(&previousContext_);
    observer_ = observer;
    context_ = context;
    SetExchangeObserver(observer, context);
  }
  void Detach() {
    if (!observer_) return;
    void* context = nullptr;
    if (GetExchangeObserver(&context) == observer_ && context == context_)
      SetExchangeObserver(previous_, previousContext_);
    observer_ = nullptr;
  }
  void Forward(const ExchangeTrace& trace) const {
    if (previous_) previous_(trace, previousContext_);
  }

 private:
  ExchangeObserver observer_ = nullptr;  // null: not attached
  void* context_ = nullptr;
  ExchangeObserver previous_ = nullptr;
  void* previousContext_ = nullptr;
};
