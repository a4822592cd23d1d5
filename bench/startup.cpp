// Start-up cost: the process time (user + system) of the program's start-up
// up to a shown main window, against a bare Qt program that shows one empty
// window. Both run alternately after a few unmeasured warm-up runs; medians
// of each are compared, and the spread shows how far one figure can be
// trusted: the quartiles of each, and of the ratios of the pairs.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double runOnce(const char* program, const char* argument) {
  const pid_t child = fork();
  if (child == 0) {
    execl(program, program, argument, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", program);
    std::exit(1);
  }
  return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
         usage.ru_stime.tv_usec / 1e3;
}

// The value below which the given share of v lies.
double quantile(std::vector<double> v, double share) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(share * static_cast<double>(v.size() - 1) + 0.5)];
}

double median(const std::vector<double>& v) { return quantile(v, 0.5); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_startup <bare window program> <start-up probe> <installation>\n");
    return 2;
  }
  if (!getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const int warmUp = 3, runs = 41;
  for (int i = 0; i < warmUp; ++i) {
    runOnce(argv[1], "");
    runOnce(argv[2], argv[3]);
  }
  std::vector<double> bare, program, pairs;
  for (int i = 0; i < runs; ++i) {
    bare.push_back(runOnce(argv[1], ""));
    program.push_back(runOnce(argv[2], argv[3]));
    pairs.push_back(program.back() / bare.back());
  }
  const double b = median(bare), p = median(program);
  std::printf("start-up to a shown main window: %.1f ms process time (median of %d; quartiles %.1f to %.1f)\n", p,
              runs, quantile(program, 0.25), quantile(program, 0.75));
  std::printf("bare Qt window:                  %.1f ms process time (quartiles %.1f to %.1f)\n", b,
              quantile(bare, 0.25), quantile(bare, 0.75));
  std::printf("ratio of the medians: %.2f (goal: at most 1.30, and under 150 ms); ratios of the pairs: median %.2f, "
              "quartiles %.2f to %.2f\n",
              p / b, median(pairs), quantile(pairs, 0.25), quantile(pairs, 0.75));
  return 0;
}
