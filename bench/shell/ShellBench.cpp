// What the user waits for, end to end, as the program runs it on the offscreen
// platform with its real windows, frame and charts:
//   start-up  - process start → the main window and the welcome window painted,
//               one fresh process per iteration (caches warm);
//   open      - "Открыть файл" with the dialog answered → the audio window created
//               with its frame → InputWaveFile → layout → the window painted by the
//               event loop, in a fresh process: the first recording of a run and
//               later ones (the earlier windows stay open), for 10 minutes at
//               44.1 kHz and 1 hour at 22050 Hz (goals 0.35 s first, 0.2 s later,
//               1 s for the hour), beside the reader alone in the same run;
//   breakdown - the first open's steps timed one by one in a fresh process, the
//               same steps the open flow takes: library loading, the chart fonts,
//               the window, allocation and first touch of the buffers, the reader,
//               each chart's first paints, each layout step, showing;
//   save      - "Сохранить в файл" of the 1-hour recording, dialog answered → file
//               complete, beside its anchor: the same bytes converted into a ready
//               buffer and written with one write() and one fsync() (goal 1.2 ×);
//   redraw    - a full redraw of the four charts at a device pixel ratio of 2, the
//               charts 2500 device pixels wide (anchor 16 ms).
// Times of fresh processes are taken by the child on the monotonic clock, which
// the parent shares, and handed to the parent as "name value" lines.
#include "blockmove/BlockMove.h"
#include "blockmove/CpuIdent.h"
#include "dsp/IPPDynamic.h"
#include "dsp/LoadExternal.h"
#include "editor/Tembrix.h"
#include "platform/AlignLayout.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "shell/FormTembrix.h"
#include "shell/Main.h"
#include "shell/WelcomePage.h"
#include "wav/WaveFile.h"
#include "WaveBuilder.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAction>
#include <QElapsedTimer>
#include <QImage>
#include <QMdiArea>
#include <QPainter>
#include <QPushButton>
#include <QWebEngineView>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The benchmark looks inside the frame the way the editor's tests do.
struct TembrixTestAccess {
  static void RepaintDiagramms(TFrameTembrix& f, std::int32_t n1, std::int32_t n2) { f.RepaintDiagramms(n1, n2); }
  static void SetFormat(TFrameTembrix& f) {
    f.arSampRate = WaveFile::SampleRate;
    f.arBitsPerSample = WaveFile::BitsPerSample;
    f.dn = f.arWAVENOP;
  }
  static TDateTime& RecDT(TFrameTembrix& f) { return f.RecDT; }
};
using T = TembrixTestAccess;

namespace {

long long nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// CPU time of the calling thread: the GUI thread does all of an open's work, and
// on a busy machine this is what the open itself costs, waiting aside.
long long threadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

long minorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// ---------------------------------------------------------------------------
// Recordings

std::filesystem::path workDir;
std::string selfPath;
std::string tenMinutes;  // 44.1 kHz stereo, 10 minutes
std::string oneHour;     // 22050 Hz stereo, 1 hour

// A 16-bit stereo recording: a slow swell under a tone on the left, noise-like
// values on the right, so that every view and spectrum has something to show.
void writeRecording(const std::string& path, std::uint32_t rate, std::int64_t frames) {
  std::ofstream out(path, std::ios::binary);
  out << wavtest::pcmHeader(2, rate, 16, std::uint32_t(frames * 4));
  // Sines from a table: the signal costs next to nothing to make.
  std::vector<double> sine(4096);
  for (std::size_t i = 0; i < sine.size(); ++i) sine[i] = std::sin(2 * M_PI * double(i) / double(sine.size()));
  auto sineAt = [&sine](double turns) { return sine[std::size_t((turns - std::floor(turns)) * 4096) & 4095]; };
  std::vector<std::int16_t> block(2 * 65536);
  std::uint32_t noise = 12345;
  for (std::int64_t done = 0; done < frames;) {
    const std::int64_t n = std::min<std::int64_t>(65536, frames - done);
    const double swell = 12000 * sineAt(40.0 * double(done) / double(frames));
    for (std::int64_t k = 0; k < n; ++k) {
      noise = noise * 1664525 + 1013904223;
      block[2 * k] = std::int16_t(swell + 3000 * sineAt(2000.0 * double(done + k) / rate));
      block[2 * k + 1] = std::int16_t((std::int32_t(noise >> 16) - 32768) / 4);
    }
    out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(n * 4));
    done += n;
  }
}

// ---------------------------------------------------------------------------
// The child: the program's start-up and open flow in a fresh process

// Time spent painting, per widget of interest, while an open runs.
struct PaintLog {
  long long chartNs[4] = {};
  int chartCount[4] = {};
  long long otherNs = 0;
  int otherCount = 0;
  long long lastPaintEnd = 0;
  long long mainPainted = 0, welcomePainted = 0, webPainted = 0;
  void reset() { *this = PaintLog(); }
  // Chart1 … Chart4 of any audio window, by name.
  static int chartIndex(QObject* o) {
    if (!qobject_cast<TChart*>(o)) return -1;
    const QString name = o->objectName();
    return name.size() == 6 && name.startsWith(QStringLiteral("Chart")) ? name.back().digitValue() - 1 : -1;
  }
};
PaintLog paints;

// The application object of the program, with every paint event timed.
class TimedApplication : public TApplication {
 public:
  using TApplication::TApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    if (event->type() != QEvent::Paint) return TApplication::notify(receiver, event);
    const long long start = nowNs();
    const bool result = TApplication::notify(receiver, event);
    const long long end = nowNs();
    paints.lastPaintEnd = end;
    if (const int i = paints.chartIndex(receiver); i >= 0) {
      paints.chartNs[i] += end - start;
      ++paints.chartCount[i];
    } else {
      paints.otherNs += end - start;
      ++paints.otherCount;
    }
    if (receiver == Form1.data() && !paints.mainPainted) paints.mainPainted = end;
    if (receiver == Form2.data() && !paints.welcomePainted) paints.welcomePainted = end;
    if (Form2 && !paints.webPainted) {
      auto* w = qobject_cast<QWidget*>(receiver);
      if (w && Form2->WebBrowser1->isAncestorOf(w)) paints.webPainted = end;
    }
    return result;
  }
};

void report(const std::string& name, double value) { std::printf("%s %.0f\n", name.c_str(), value); }

void processEventsFor(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// What the event loop paints after a handler returned: everything pending.
void paintPending() {
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
}

void reportPaints(const std::string& prefix) {
  static const char* names[4] = {"Chart1", "Chart2", "Chart3", "Chart4"};
  for (int i = 0; i < 4; ++i) {
    report(prefix + "_paint_ns_" + names[i], double(paints.chartNs[i]));
    report(prefix + "_paints_" + names[i], paints.chartCount[i]);
  }
  report(prefix + "_paint_ns_other", double(paints.otherNs));
  report(prefix + "_paints_other", paints.otherCount);
}

// The open flow's steps, one by one, as TForm1::N1Click takes them.
void openStepByStep(const std::string& file) {
  auto step = [](const std::string& name, auto&& work) {
    const long faults = minorFaults();
    paints.reset();
    const long long cpu = threadCpuNs();
    const long long start = nowNs();
    work();
    const long long took = nowNs() - start;
    report(name + "_ns", double(took));
    report(name + "_cpu_ns", double(threadCpuNs() - cpu));
    report(name + "_faults", double(minorFaults() - faults));
    long long painted = 0;
    for (long long ns : paints.chartNs) painted += ns;
    report(name + "_chart_paint_ns", double(painted));
  };
  const long long cpu = threadCpuNs();
  const long long start = nowNs();
  // The library's first load, which the frame's constructor would pay.
  step("library", [] {
    if (!LoadExternal::LoadDynamicIIPP()) std::abort();
  });
  // The charts' fonts, as their first paint would first use them.
  step("fonts", [] {
    QImage image(600, 40, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    for (const auto& [size, bold] : {std::pair{11, true}, std::pair{10, false}}) {
      QFont font;
      font.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
      font.setStyleHint(QFont::SansSerif);
      font.setPixelSize(size);
      font.setBold(bold);
      painter.setFont(font);
      painter.drawText(QPoint(0, 20), QStringLiteral("Левый канал. График частотного спектра. 0123456789,-k"));
    }
  });
  TFrameTembrix* frame = nullptr;
  step("window", [&] {
    Form3 = new TForm3(Form1->MdiArea);
    frame = Form3->FrameTembrix1;
    frame->arReportPath = QString::fromStdString(file);
    frame->arReverse = false;
  });
  // Three buffers of the reader's length, mapped and touched, then given back:
  // the reader's own buffers come out of the allocator's cache already backed.
  TDateTime date;
  if (!WaveFile::GetWaveInfo(file, date)) std::abort();
  const std::uint64_t frames = WaveFile::DataLen / WaveFile::BlockAlign;
  WaveFile::Buffer.reset();
  step("allocate_and_touch", [&] {
    const std::uint64_t length = WaveFile::BufferLength(frames);
    for (int i = 0; i < 3; ++i) {
      pDoubleArray b = IPPDynamic::IIPP_MallocDouble(int(length));
      std::memset(b, 0, length * sizeof(double));
      IPPDynamic::IIPP_Free(b);
    }
  });
  step("reader", [&] {
    const std::string path = frame->arReportPath.toStdString();
    if (WaveFile::GetWaveInfo(path, T::RecDT(*frame)))
      frame->arWAVENOP = WaveFile::LoadWaveData(path, false, frame->arTimeLine, frame->arLeftCH, frame->arRightCH);
    T::SetFormat(*frame);
  });
  step("views", [&] { T::RepaintDiagramms(*frame, 0, frame->arWAVENOP); });
  reportPaints("views");
  // The layout, step by step.
  using namespace AlignLayout;
  TFrameTembrix& f = *frame;
  step("layout1", [&] {
    SetAlign(f.ScrollBox1, alClient);
    f.repaint();
  });
  step("layout2", [&] {
    SetAlign(f.PanelDirect, alBottom);
    f.repaint();
  });
  step("layout3", [&] {
    SetAlign(f.PanelDiagramms, alTop);
    SetHeight(f.PanelDiagramms, std::max(0, f.ScrollBox1->height() - f.PanelDirect->height()));
    f.repaint();
  });
  step("layout4", [&] {
    for (QWidget* chart : {f.Chart1, f.Chart2, f.Chart3, f.Chart4}) SetAlign(chart, alTop);
    for (QWidget* chart : {f.Chart1, f.Chart2, f.Chart3, f.Chart4}) SetHeight(chart, f.PanelDiagramms->height() / 4);
    SetAlign(f.PanelDirect, alTop);
    f.repaint();
  });
  step("show", [&] {
    Form3->show();
    Form1->MdiArea->setActiveSubWindow(Form3);
    paintPending();
  });
  report("total_ns", double(nowNs() - start));
  report("total_cpu_ns", double(threadCpuNs() - cpu));
  LoadExternal::FreeDynamicIIPP();
}

int childMain(int argc, char** argv) {
  const long long entered = nowNs();
  const std::string mode = argv[2];
  unsetenv("QT_SCALE_FACTOR");
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // As main() of the program does.
  CpuIdent::GetCPUInfo();
  BlockMove::Initialize();
  PrepareWebEngine();
  int qtArgc = 1;
  TimedApplication app(qtArgc, argv);
  const long long appReady = nowNs();
  Dialogs::Recorder recorder;
  Dialogs::setResponder(&recorder);
  CreateForms();
  const long long formsCreated = nowNs();
  QElapsedTimer guard;
  guard.start();
  while (!(paints.mainPainted && paints.welcomePainted)) {
    if (guard.elapsed() > 30000) return 2;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  report("main", double(entered));
  report("app_ready", double(appReady));
  report("forms_created", double(formsCreated));
  report("painted", double(std::max(paints.mainPainted, paints.welcomePainted)));
  report("main_painted", double(paints.mainPainted));
  report("welcome_painted", double(paints.welcomePainted));

  if (mode != "startup") {
    // The welcome page settles first (without a network it fails within a
    // fraction of a second): its loading is not part of an open.
    bool loaded = false;
    QObject::connect(Form2->WebBrowser1, &QWebEngineView::loadFinished, [&loaded] { loaded = true; });
    while (!loaded && guard.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    processEventsFor(300);
  }
  if (mode == "breakdown") {
    openStepByStep(argv[3]);
  } else if (mode == "open" || mode == "open-close") {
    for (int i = 3; i < argc; ++i) {
      const std::string prefix = "open" + std::to_string(i - 3);
      recorder.queueFileName(QString::fromUtf8(argv[i]));
      paints.reset();
      const long faults = minorFaults();
      const long long cpu = threadCpuNs();
      const long long start = nowNs();
      try {
        Form1->N1Click();
      } catch (const std::exception& e) {
        std::fprintf(stderr, "open failed: %s\n", e.what());
        return 3;
      }
      const long long flowDone = nowNs();
      paintPending();
      const long long end = std::max(flowDone, paints.lastPaintEnd);
      report(prefix + "_ns", double(end - start));
      report(prefix + "_cpu_ns", double(threadCpuNs() - cpu));
      report(prefix + "_flow_ns", double(flowDone - start));
      report(prefix + "_faults", double(minorFaults() - faults));
      reportPaints(prefix);
      if (!recorder.messages().empty()) return 4;
      if (mode == "open-close") {
        Form3->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      }
    }
  }
  std::fflush(stdout);
  Form1->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
  delete Form1.data();
  Dialogs::setResponder(nullptr);
  return 0;
}

// Runs this program as a child; returns its "name value" lines and the moment
// just before it was started.
std::map<std::string, double> runChild(const std::string& args, long long* spawned) {
  const std::string log = (workDir / "child.log").string();
  const std::string cmd = "exec '" + selfPath + "' --child " + args + " 2>'" + log + "'";
  *spawned = nowNs();
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) std::abort();
  std::map<std::string, double> values;
  char name[128];
  double value;
  while (std::fscanf(pipe, "%127s %lf", name, &value) == 2) values[name] = value;
  if (pclose(pipe) != 0 || values.empty()) {
    std::fprintf(stderr, "child '%s' failed; its log:\n", args.c_str());
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) std::fprintf(stderr, "  %s\n", line.c_str());
    std::abort();
  }
  return values;
}

constexpr double kMs = 1e6;

// ---------------------------------------------------------------------------
// Start-up and the open flow, fresh processes

void BM_StartUp(benchmark::State& state) {
  std::map<std::string, double> v;
  long long spawned = 0;
  for (auto _ : state) {
    v = runChild("startup", &spawned);
    state.SetIterationTime((v["painted"] - double(spawned)) / 1e9);
  }
  state.counters["to_main_ms"] = (v["main"] - double(spawned)) / kMs;
  state.counters["app_ms"] = (v["app_ready"] - v["main"]) / kMs;
  state.counters["forms_ms"] = (v["forms_created"] - v["app_ready"]) / kMs;
  state.counters["paint_ms"] = (v["painted"] - v["forms_created"]) / kMs;
  state.counters["goal_ms"] = 500;
}
BENCHMARK(BM_StartUp)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5);

// Opens `count` recordings in one fresh process; the time is that of the open
// numbered `measured` (0: the first of the run), or the mean of the later ones.
void openFlow(benchmark::State& state, const std::string& file, int count, bool later, double goalMs) {
  std::map<std::string, double> v;
  long long spawned = 0;
  std::string args = "open";
  for (int i = 0; i < count; ++i) args += " '" + file + "'";
  for (auto _ : state) {
    v = runChild(args, &spawned);
    double ns = 0;
    int n = 0;
    for (int i = later ? 1 : 0; i < (later ? count : 1); ++i, ++n) ns += v["open" + std::to_string(i) + "_ns"];
    state.SetIterationTime(ns / n / 1e9);
  }
  const std::string last = "open" + std::to_string(count - 1);
  state.counters["cpu_ms"] = v[last + "_cpu_ns"] / kMs;
  state.counters["flow_ms"] = v[last + "_flow_ns"] / kMs;
  double chartNs = 0;
  for (const char* c : {"Chart1", "Chart2", "Chart3", "Chart4"}) {
    state.counters[std::string("paints_") + c] = v[last + "_paints_" + c];
    chartNs += v[last + "_paint_ns_" + c];
  }
  state.counters["chart_paint_ms"] = chartNs / kMs;
  state.counters["other_paints"] = v[last + "_paints_other"];
  state.counters["other_paint_ms"] = v[last + "_paint_ns_other"] / kMs;
  state.counters["faults"] = v[last + "_faults"];
  state.counters["goal_ms"] = goalMs;
}

void BM_Open10min_First(benchmark::State& state) { openFlow(state, tenMinutes, 1, false, 350); }
void BM_Open10min_Later(benchmark::State& state) { openFlow(state, tenMinutes, 3, true, 200); }
void BM_Open1h_First(benchmark::State& state) { openFlow(state, oneHour, 1, false, 1000); }
void BM_Open1h_Later(benchmark::State& state) { openFlow(state, oneHour, 2, true, 1000); }
BENCHMARK(BM_Open10min_First)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5);
BENCHMARK(BM_Open10min_Later)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5);
BENCHMARK(BM_Open1h_First)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(3);
BENCHMARK(BM_Open1h_Later)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(3);

// The first open of the 10-minute recording, its steps timed one by one.
void BM_Open10min_FirstBreakdown(benchmark::State& state) {
  std::map<std::string, double> v;
  long long spawned = 0;
  for (auto _ : state) {
    v = runChild("breakdown '" + tenMinutes + "'", &spawned);
    state.SetIterationTime(v["total_ns"] / 1e9);
  }
  for (const char* s : {"library", "fonts", "window", "allocate_and_touch", "reader", "views", "layout1", "layout2",
                        "layout3", "layout4", "show"}) {
    state.counters[std::string(s) + "_ms"] = v[std::string(s) + "_ns"] / kMs;
    state.counters[std::string(s) + "_cpu_ms"] = v[std::string(s) + "_cpu_ns"] / kMs;
    state.counters[std::string(s) + "_paint_ms"] = v[std::string(s) + "_chart_paint_ns"] / kMs;
  }
  state.counters["total_cpu_ms"] = v["total_cpu_ns"] / kMs;
  state.counters["alloc_faults"] = v["allocate_and_touch_faults"];
  state.counters["reader_faults"] = v["reader_faults"];
  for (const char* c : {"Chart1", "Chart2", "Chart3", "Chart4"}) {
    state.counters[std::string("views_first_paint_ms_") + c] = v[std::string("views_paint_ns_") + c] / kMs;
  }
}
BENCHMARK(BM_Open10min_FirstBreakdown)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(3);

// ---------------------------------------------------------------------------
// In this process: the reader alone, saving and the DPR-2 redraw

std::unique_ptr<TFrameTembrix> hourFrame;
Dialogs::Recorder recorder;
int savedFiles = 0;

// Fresh anonymous memory of `bytes`, mapped, touched once and unmapped.
void touchFresh(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) std::abort();
  madvise(p, bytes, MADV_HUGEPAGE);
  std::memset(p, 1, bytes);
  benchmark::DoNotOptimize(p);
  munmap(p, bytes);
}

// The anchor below every open: mapping and touching as many fresh bytes as the
// recording's three buffers hold (time line, left, right), nothing else.
void BM_TouchAnchor(benchmark::State& state) {
  const std::size_t bytes = 3 * std::size_t(state.range(0)) * sizeof(double);
  for (auto _ : state) touchFresh(bytes);
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
}
BENCHMARK(BM_TouchAnchor)->Arg(10 * 60 * 44100)->Arg(3600 * 22050)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

// The reader's own time on the 10-minute recording, warm: the anchor of the opens.
void BM_Reader10min(benchmark::State& state) {
  for (auto _ : state) {
    pDoubleArray time = nullptr, left = nullptr, right = nullptr;
    TDateTime date;
    if (!WaveFile::GetWaveInfo(tenMinutes, date)) std::abort();
    benchmark::DoNotOptimize(WaveFile::LoadWaveData(tenMinutes, false, time, left, right));
    for (pDoubleArray p : {time, left, right}) IPPDynamic::IIPP_Free(p);
  }
}
BENCHMARK(BM_Reader10min)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(5);

void BM_Save1h(benchmark::State& state) {
  TFrameTembrix& f = *hourFrame;
  for (auto _ : state) {
    const std::string path = (workDir / ("save" + std::to_string(savedFiles++) + ".wav")).string();
    recorder.queueFileName(QString::fromStdString(path));
    const long long start = nowNs();
    f.ButtonFileSaveClick(f.ButtonFileSave);
    state.SetIterationTime(double(nowNs() - start) / 1e9);
    if (!recorder.messages().empty() || std::filesystem::file_size(path) != 44 + std::uint64_t(f.arWAVENOP) * 4)
      std::abort();
    std::filesystem::remove(path);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * (44 + std::int64_t(f.arWAVENOP) * 4));
}

// The same bytes converted into a ready, already touched buffer and written with
// one write() and one fsync().
void BM_SaveAnchor1h(benchmark::State& state) {
  TFrameTembrix& f = *hourFrame;
  const std::size_t bytes = 44 + std::size_t(f.arWAVENOP) * 4;
  std::vector<std::int16_t> out(bytes / 2, 1);
  for (auto _ : state) {
    const std::string path = (workDir / ("anchor" + std::to_string(savedFiles++) + ".wav")).string();
    const long long start = nowNs();
    for (std::int32_t i = 0; i < f.arWAVENOP; ++i) {
      out[22 + 2 * std::size_t(i)] = std::int16_t(std::llrint(f.arLeftCH[i]));
      out[22 + 2 * std::size_t(i) + 1] = std::int16_t(std::llrint(f.arRightCH[i]));
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 || ::write(fd, out.data(), bytes) != ssize_t(bytes) || ::fsync(fd) != 0) std::abort();
    ::close(fd);
    state.SetIterationTime(double(nowNs() - start) / 1e9);
    std::filesystem::remove(path);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
}
BENCHMARK(BM_SaveAnchor1h)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5);
BENCHMARK(BM_Save1h)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5);

void BM_RedrawDpr2_1h(benchmark::State& state) {
  TFrameTembrix& f = *hourFrame;
  const long long cpu = threadCpuNs();
  for (auto _ : state) T::RepaintDiagramms(f, 0, f.arWAVENOP);
  state.counters["thread_cpu_ms"] = double(threadCpuNs() - cpu) / kMs / double(state.iterations());
  state.counters["chart_device_px"] = f.Chart1->width() * f.Chart1->devicePixelRatioF();
  state.counters["anchor_ms"] = 16;
}
BENCHMARK(BM_RedrawDpr2_1h)->Unit(benchmark::kMillisecond)->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) return childMain(argc, argv);

  selfPath = std::filesystem::read_symlink("/proc/self/exe").string();
  std::string pattern = (std::filesystem::temp_directory_path() / "tembrix-shellbench-XXXXXX").string();
  workDir = ::mkdtemp(pattern.data());
  tenMinutes = (workDir / "ten-minutes.wav").string();
  oneHour = (workDir / "one-hour.wav").string();
  writeRecording(tenMinutes, 44100, 10LL * 60 * 44100);
  writeRecording(oneHour, 22050, 3600LL * 22050);

  // This machine backs memory that was never used since it started lazily, at a
  // small fraction of its usual speed; a desktop that has run for a while does
  // not. A few GiB touched and given back first make every measurement below
  // start from memory that was in use before.
  {
    const auto start = std::chrono::steady_clock::now();
    touchFresh(std::size_t{4} << 30);
    std::fprintf(stderr, "memory warmed in %.0f ms\n",
                 std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  // This process draws at a device pixel ratio of 2 (a 4K screen); the children
  // set their own platform.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QT_SCALE_FACTOR", "2", 0);
  CpuIdent::GetCPUInfo();
  BlockMove::Initialize();
  int code = 0;
  {
    TApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Dialogs::setResponder(&recorder);
    // Charts 1250 pixels wide, 2500 device pixels: the frame's borders take 6.
    hourFrame = std::make_unique<TFrameTembrix>();
    hourFrame->resize(1256, 1000);
    hourFrame->show();
    QCoreApplication::processEvents();
    hourFrame->arReportPath = QString::fromStdString(oneHour);
    hourFrame->InputWaveFile();
    using namespace AlignLayout;
    TFrameTembrix& f = *hourFrame;
    SetAlign(f.PanelDiagramms, alTop);
    SetHeight(f.PanelDiagramms, f.ScrollBox1->height() - f.PanelDirect->height());
    for (QWidget* chart : {f.Chart1, f.Chart2, f.Chart3, f.Chart4}) SetAlign(chart, alTop);
    for (QWidget* chart : {f.Chart1, f.Chart2, f.Chart3, f.Chart4}) SetHeight(chart, f.PanelDiagramms->height() / 4);
    SetAlign(f.PanelDirect, alTop);
    QCoreApplication::processEvents();
    if (hourFrame->arWAVENOP <= 0) code = 1;
    if (code == 0) benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    hourFrame.reset();
    Dialogs::setResponder(nullptr);
  }
  std::filesystem::remove_all(workDir);
  return code;
}
