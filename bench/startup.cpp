// Start-up cost: the process time (user + system) of the program's start-up
// up to a shown main window, against a bare Qt program that shows one empty
// window. Both run alternately; medians of each are compared.
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

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_startup <bare window program> <start-up probe> <installation>\n");
    return 2;
  }
  if (!getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const int runs = 21;
  std::vector<double> bare, program;
  for (int i = 0; i < runs; ++i) {
    bare.push_back(runOnce(argv[1], ""));
    program.push_back(runOnce(argv[2], argv[3]));
  }
  const double b = median(bare), p = median(program);
  std::printf("start-up to a shown main window: %.1f ms process time (median of %d)\n", p, runs);
  std::printf("bare Qt window:                  %.1f ms process time\n", b);
  std::printf("ratio: %.2f (goal: at most 1.30, and under 150 ms)\n", p / b);
  return 0;
}
