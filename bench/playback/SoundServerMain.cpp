// main() of the playback benchmarks: without PULSE_SERVER set, starts a private
// sound server with the test fixture script, runs the benchmarks with the real
// application object on the offscreen platform, and stops the server again.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const bool ownServer = !std::getenv("PULSE_SERVER");
  const std::string runtime = std::string(TEMBRIX_BENCH_RUNTIME_DIR);
  const std::string fixture = std::string(TEMBRIX_PULSE_FIXTURE);
  if (ownServer) {
    if (std::system((fixture + " start " + runtime).c_str()) != 0) return 1;
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + runtime + "/pulse/native").c_str(), 1);
  }
  int rc = 0;
  {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
  }
  if (ownServer) rc = std::system((fixture + " stop " + runtime).c_str());
  return rc == 0 ? 0 : 1;
}
