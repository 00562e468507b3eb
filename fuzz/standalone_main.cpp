// A stand-in for libFuzzer where clang is not at hand: runs every file given
// (folders: every file in them) through the target, then, with --mutate S,
// random mutations of those inputs for S seconds (fixed seed, so a failure
// repeats). Exit 0 when every input ran; a failing check traps.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::vector<uint8_t>> gInputs;

void AddFile(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return;
  std::vector<uint8_t> bytes;
  uint8_t buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  fclose(f);
  gInputs.push_back(std::move(bytes));
}

void AddPath(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    AddFile(path);
    return;
  }
  DIR* dir = opendir(path.c_str());
  if (!dir) return;
  while (dirent* e = readdir(dir))
    if (e->d_name[0] != '.') AddPath(path + "/" + e->d_name);
  closedir(dir);
}

double Seconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  double mutateSeconds = 0;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--mutate") == 0 && i + 1 < argc) mutateSeconds = atof(argv[++i]);
    else AddPath(argv[i]);
  }
  if (gInputs.empty()) {
    fprintf(stderr, "usage: %s [--mutate SECONDS] FILE|FOLDER...\n", argv[0]);
    return 2;
  }
  for (const auto& input : gInputs) LLVMFuzzerTestOneInput(input.data(), input.size());

  std::mt19937 random(4410);
  long runs = 0;
  const double end = Seconds() + mutateSeconds;
  while (mutateSeconds > 0 && Seconds() < end) {
    for (int batch = 0; batch < 1000; ++batch, ++runs) {
      std::vector<uint8_t> v = gInputs[random() % gInputs.size()];
      const int edits = 1 + static_cast<int>(random() % 8);
      for (int e = 0; e < edits; ++e) {
        const uint32_t pick = random();
        const size_t at = v.empty() ? 0 : random() % v.size();
        switch (pick % 4) {
          case 0: if (!v.empty()) v[at] = static_cast<uint8_t>(random()); break;
          case 1: v.insert(v.begin() + static_cast<long>(at), static_cast<uint8_t>(random())); break;
          case 2: if (!v.empty()) v.erase(v.begin() + static_cast<long>(at)); break;
          default: {  // splice in a piece of another input
            const auto& other = gInputs[random() % gInputs.size()];
            if (other.empty()) break;
            const size_t from = random() % other.size();
            const size_t len = 1 + random() % (other.size() - from);
            v.insert(v.begin() + static_cast<long>(at), other.begin() + static_cast<long>(from),
                     other.begin() + static_cast<long>(from + len));
          }
        }
      }
      if (v.size() > 4096) v.resize(4096);
      LLVMFuzzerTestOneInput(v.data(), v.size());
    }
  }
  printf("%s: %zu corpus inputs, %ld mutations, no failure\n", argv[0], gInputs.size(), runs);
  return 0;
}
