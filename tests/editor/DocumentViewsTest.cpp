// The editor's document and what its views and the play request make of it,
// without any widget: buffers from the real allocator, signals with known answers.
#include "editor/TembrixDocument.h"
#include "editor/TembrixPlayRequest.h"
#include "editor/TembrixViews.h"

#include "dsp/IPPDynamic.h"
#include "dsp/LoadExternal.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <numbers>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace Tembrix;

namespace {

// Holds one use of the library for the test, so that blocks can be taken and
// looked at after a document has given its own use back.
class Document : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LoadExternal::LoadDynamicIIPP()); }
  void TearDown() override { LoadExternal::FreeDynamicIIPP(); }

  // Fills `doc` as the reader does: `frames` frames at `rate`, frame i at
  // (i + 1) / rate seconds with the samples left(i) and right(i).
  static void fill(TTembrixDocument& doc, std::int32_t frames, std::uint32_t rate,
                   const std::function<double(std::int32_t)>& left,
                   const std::function<double(std::int32_t)>& right) {
    ASSERT_TRUE(doc.AcquireLibrary());
    doc.arTimeLine = IPPDynamic::IIPP_MallocDouble(frames);
    doc.arLeftCH = IPPDynamic::IIPP_MallocDouble(frames);
    doc.arRightCH = IPPDynamic::IIPP_MallocDouble(frames);
    for (std::int32_t i = 0; i < frames; ++i) {
      doc.arTimeLine[i] = (i + 1.0) / rate;
      doc.arLeftCH[i] = left(i);
      doc.arRightCH[i] = right(i);
    }
    doc.arWAVENOP = doc.dn = frames;
    doc.arSampRate = rate;
    doc.arBitsPerSample = 16;
  }
  static double counting(std::int32_t i) { return i; }
  static double negative(std::int32_t i) { return -i; }
};

constexpr std::int32_t Window = 64;  // the spectrogram window of every recording of 128 frames or more
constexpr double Rate = 8000;

}  // namespace

// --- The document ---

TEST_F(Document, GivesTheTimeLineThenTheLeftThenTheRightChannelBack) {
  // A block given back is parked in the first free slot of its size and the next
  // request of that size takes the first one filled, so three requests after the
  // document has gone get its blocks back in the order it released them.
  constexpr std::int32_t frames = 300;
  std::vector<IPPDynamic::IppBuffer<double>> parked;
  for (int i = 0; i < 8; ++i) parked.emplace_back(IPPDynamic::IIPP_MallocDouble(frames));  // empties the slots

  std::vector<const double*> buffers;
  {
    TTembrixDocument doc;
    fill(doc, frames, 8000, counting, negative);
    buffers = {doc.arTimeLine, doc.arLeftCH, doc.arRightCH};
  }
  for (const double* buffer : buffers) {
    parked.emplace_back(IPPDynamic::IIPP_MallocDouble(frames));
    EXPECT_EQ(parked.back().get(), buffer);
  }
}

TEST_F(Document, ClampRangeKeepsBothBoundsInsideAndRejectsAnEmptyRange) {
  TTembrixDocument doc;
  fill(doc, 100, 8000, counting, negative);
  struct Case {
    std::int32_t n1, n2, lo, hi;
    bool nonEmpty;
  };
  for (const Case& c : {Case{10, 20, 10, 20, true}, Case{-5, 200, 0, 100, true}, Case{INT_MIN, INT_MAX, 0, 100, true},
                       Case{20, 10, 20, 10, false}, Case{100, 200, 100, 100, false}, Case{-9, -1, 0, 0, false},
                       Case{50, 50, 50, 50, false}}) {
    std::int32_t n1 = c.n1, n2 = c.n2;
    EXPECT_EQ(doc.ClampRange(n1, n2), c.nonEmpty) << c.n1 << " " << c.n2;
    EXPECT_EQ(n1, c.lo);
    EXPECT_EQ(n2, c.hi);
  }
}

// --- Waveform points ---

TEST_F(Document, WaveformTakesEveryFrameOfAShortRange) {
  TTembrixDocument doc;
  fill(doc, 100, 8000, counting, negative);
  const auto points = WaveformPoints(doc, 10, 15);
  ASSERT_TRUE(points);
  EXPECT_EQ(points->Left, (std::vector<double>{10, 11, 12, 13, 14}));
  EXPECT_EQ(points->Right, (std::vector<double>{-10, -11, -12, -13, -14}));
  ASSERT_EQ(points->X.size(), 5u);
  EXPECT_EQ(points->X.front(), doc.arTimeLine[10]);
  EXPECT_EQ(points->X.back(), doc.arTimeLine[14]);
}

TEST_F(Document, WaveformThinsALongRangeToOneFrameEveryStepAndItsLastFrame) {
  TTembrixDocument doc;
  fill(doc, 35000, 8000, counting, negative);
  const auto points = WaveformPoints(doc, 1000, 35000);  // 34000 frames: step ⌈33999 / 9999⌉ = 4
  ASSERT_TRUE(points);
  ASSERT_EQ(points->X.size(), 8501u);  // frames 1000, 1004, …, 34996, then 34999
  for (std::size_t i = 0; i < points->X.size(); ++i) {
    const std::int32_t frame = i + 1 < points->X.size() ? 1000 + 4 * static_cast<std::int32_t>(i) : 34999;
    ASSERT_EQ(points->Left[i], frame) << i;
    ASSERT_EQ(points->Right[i], -frame) << i;
    ASSERT_EQ(points->X[i], doc.arTimeLine[frame]) << i;
  }
}

TEST_F(Document, WaveformClampsTheRangeAndGivesNothingForAnEmptyOne) {
  TTembrixDocument doc;
  fill(doc, 100, 8000, counting, negative);
  const auto whole = WaveformPoints(doc, -50, 500);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->Left.size(), 100u);
  EXPECT_EQ(whole->Left.front(), 0);
  EXPECT_EQ(whole->Left.back(), 99);
  EXPECT_FALSE(WaveformPoints(doc, 40, 40));
  EXPECT_FALSE(WaveformPoints(doc, 60, 40));
  EXPECT_FALSE(WaveformPoints(doc, 100, 200));
  EXPECT_FALSE(WaveformPoints(TTembrixDocument{}, 0, 10));
}

// --- Spectrogram columns ---

TEST_F(Document, SpectrogramOfAConstantHasPowerOnlyAtZeroAndOfACosineOnlyAtItsBin) {
  // A constant c gives c² / W at frequency 0; a cosine of amplitude A that makes
  // 5 whole turns in any W frames gives A² / (4 W) at bin 5, in every column.
  constexpr double c = 300, A = 1000;
  TTembrixDocument doc;
  fill(doc, 256, Rate, [](std::int32_t i) { return A * std::cos(2 * std::numbers::pi * 5 * i / Window); },
       [](std::int32_t) { return c; });
  const auto columns = SpectrogramColumns(doc, 0, 256);
  ASSERT_TRUE(columns);
  EXPECT_EQ(columns->Columns, 256);
  EXPECT_EQ(columns->Bins, Window / 2);
  ASSERT_EQ(columns->X.size(), 256u);
  ASSERT_EQ(columns->Z.size(), static_cast<std::size_t>(Window / 2));
  ASSERT_EQ(columns->Left.size(), 256u * Window / 2);
  ASSERT_EQ(columns->Right.size(), columns->Left.size());
  for (std::int32_t bin = 0; bin < Window / 2; ++bin) EXPECT_NEAR(columns->Z[bin], bin * Rate / Window, 1e-6);
  for (std::int32_t column : {0, 1, 100, 192}) {  // windows that lie wholly inside the recording
    for (std::int32_t bin = 0; bin < Window / 2; ++bin) {
      EXPECT_EQ(columns->X[column], doc.arTimeLine[column]);
      EXPECT_NEAR(columns->Left[column * Window / 2 + bin], bin == 5 ? A * A / (4 * Window) : 0, 1e-6) << column << " " << bin;
      EXPECT_NEAR(columns->Right[column * Window / 2 + bin], bin == 0 ? c * c / Window : 0, 1e-6) << column << " " << bin;
    }
  }
}

TEST_F(Document, SpectrogramWindowsPastTheLastFrameAreZeroFilled) {
  // A constant c over the p frames that are left gives (c p)² / W³ at frequency 0.
  constexpr double c = 2000;
  TTembrixDocument doc;
  fill(doc, 200, Rate, [](std::int32_t) { return c; }, [](std::int32_t) { return -c; });
  const auto columns = SpectrogramColumns(doc, 190, 200);
  ASSERT_TRUE(columns);
  ASSERT_EQ(columns->Columns, 10);
  for (std::int32_t column = 0; column < 10; ++column) {
    const double present = 10 - column;
    const double expected = c * c * present * present / (double(Window) * Window * Window);
    EXPECT_EQ(columns->X[column], doc.arTimeLine[190 + column]);
    EXPECT_NEAR(columns->Left[column * Window / 2], expected, expected * 1e-9) << column;
    EXPECT_NEAR(columns->Right[column * Window / 2], expected, expected * 1e-9) << column;
  }
}

TEST_F(Document, SpectrogramStepsOverLongRangesAndTakesItsWindowFromTheWholeRecording) {
  TTembrixDocument doc;
  fill(doc, 1000, Rate, counting, negative);
  const auto columns = SpectrogramColumns(doc, 0, 1000);  // 1000 frames: 300 columns 3 frames apart
  ASSERT_TRUE(columns);
  EXPECT_EQ(columns->Columns, Nx2);
  EXPECT_EQ(columns->Bins, Window / 2);
  ASSERT_EQ(columns->X.size(), static_cast<std::size_t>(Nx2));
  EXPECT_EQ(columns->X[1], doc.arTimeLine[3]);
  EXPECT_EQ(columns->X.back(), doc.arTimeLine[3 * (Nx2 - 1)]);

  const auto narrow = SpectrogramColumns(doc, 500, 510);  // a narrow span keeps the recording's window
  ASSERT_TRUE(narrow);
  EXPECT_EQ(narrow->Columns, 10);
  EXPECT_EQ(narrow->Bins, Window / 2);
  EXPECT_FALSE(SpectrogramColumns(doc, 510, 500));
}

TEST_F(Document, SpectrogramOfATinyRecordingHasColumnsButNoPoints) {
  // Windows: 3 frames → 1 (no bin); 4 → 2 (one bin); 100 → 32.
  for (const auto& [frames, bins] : {std::pair{3, 0}, std::pair{4, 1}, std::pair{100, 16}}) {
    TTembrixDocument doc;
    fill(doc, frames, Rate, counting, negative);
    const auto columns = SpectrogramColumns(doc, 0, frames);
    ASSERT_TRUE(columns);
    EXPECT_EQ(columns->Columns, frames);
    EXPECT_EQ(columns->Bins, bins);
    EXPECT_EQ(columns->Left.size(), static_cast<std::size_t>(frames * bins));
    EXPECT_EQ(columns->Right.size(), columns->Left.size());
    EXPECT_EQ(columns->Z.size(), static_cast<std::size_t>(bins));
  }
}

// --- The play request ---

using Samples = std::vector<std::int16_t>;

// The two outputs of a request, read as a playback reads them: slice by
// slice (`slice` frames each), into one interleaved buffer with a sentinel
// past its end.
struct Outputs {
  Samples out0, out1;
  bool complete = true;  // every read succeeded
};
Outputs readAll(const TPlayRequest& request, std::size_t slice = SoundPlayThread::SliceFrames) {
  const std::size_t frames = request.Source->Frames();
  std::vector<std::int16_t> interleaved(2 * frames + 1, 12345);
  Outputs o;
  for (std::size_t from = 0; from < frames && o.complete; from += slice)
    o.complete = request.Source->Read(from, std::min(slice, frames - from), interleaved.data() + 2 * from);
  EXPECT_EQ(interleaved.back(), 12345) << "written past the end";
  for (std::size_t i = 0; i < frames; ++i) {
    o.out0.push_back(interleaved[2 * i]);
    o.out1.push_back(interleaved[2 * i + 1]);
  }
  return o;
}

TEST_F(Document, PlayRequestRoundsHalfToEvenAndKeepsTheLowSixteenBits) {
  const std::vector<double> values = {2.5,     3.5,      -2.5,  70000, -40000, 32767.5,
                                      1e16,    2251799813685249.0 /* 2^51 + 1 */, 0.49999999999999994, -0.5};
  const Samples expected = {2, 4, -2, 4464, 25536, -32768, 0, 1, 0, 0};
  TTembrixDocument doc;
  fill(doc, static_cast<std::int32_t>(values.size()), 1000, [&](std::int32_t i) { return values[i]; }, negative);
  const TPlayRequest request = PlayRequest(doc, 0.0, 0.01, true, false);
  const Outputs o = readAll(request, 3);
  EXPECT_EQ(o.out0, expected);
  EXPECT_EQ(o.out1, expected);  // one chosen channel is heard on both
  EXPECT_EQ(request.SampleRate, 1000u);
  EXPECT_EQ(request.PositionLo, 0.0);

  // Far from zero, halfway cases and values past 32 bits round as Round does.
  const double hard[] = {-2.5, -3.5, 65537.5, -65538.5, 3e9 + 0.5, -4503599627370495.5, 4503599627370497.0,
                         9.3e18, -1e300, std::nan("")};
  TTembrixDocument far;
  fill(far, std::int32_t(std::size(hard)), 1000, [&](std::int32_t i) { return hard[i]; }, negative);
  const Outputs h = readAll(PlayRequest(far, 0.0, double(std::size(hard)) / 1000, true, true));
  ASSERT_EQ(h.out0.size(), std::size(hard));
  for (std::size_t i = 0; i < std::size(hard); ++i) EXPECT_EQ(h.out0[i], std::int16_t(std::llrint(hard[i]))) << hard[i];
}

TEST_F(Document, PlayRequestTakesTheOutputsFromTheChosenChannels) {
  TTembrixDocument doc;
  fill(doc, 4, 1000, counting, negative);
  const Samples left = {0, 1, 2, 3}, right = {0, -1, -2, -3};
  struct Case {
    bool left, right;
    Samples out0, out1;
  };
  for (const Case& c : {Case{true, true, left, right}, Case{true, false, left, left}, Case{false, true, right, right},
                        Case{false, false, right, left}}) {
    const Outputs o = readAll(PlayRequest(doc, 0.0, 0.004, c.left, c.right));
    EXPECT_EQ(o.out0, c.out0) << c.left << c.right;
    EXPECT_EQ(o.out1, c.out1) << c.left << c.right;
  }
}

// Read slice by slice, a long span arrives whole and in order, also around the
// slice edges, from the chosen channels and from the span's first frame on.
TEST_F(Document, PlayRequestOfALongSpanIsReadWholeSliceBySlice) {
  const std::int32_t frames = std::int32_t(SoundPlayThread::SliceFrames) * 3 + 12345;
  TTembrixDocument doc;
  fill(doc, frames, 1000, [](std::int32_t i) { return double(i % 30000); }, negative);
  const TPlayRequest request = PlayRequest(doc, 0.007, double(frames) / 1000, false, true);
  const std::size_t n = std::size_t(frames - 7);
  ASSERT_EQ(request.Source->Frames(), n);
  const Outputs o = readAll(request);
  EXPECT_TRUE(o.complete);
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < n; ++i)
    wrong += o.out0[i] != std::int16_t(-std::int32_t(i + 7)) || o.out1[i] != o.out0[i];
  EXPECT_EQ(wrong, 0u);
}

TEST_F(Document, PlayRequestClipsTheSpanToTheLoadedFrames) {
  TTembrixDocument doc;
  fill(doc, 10, 1000, counting, negative);
  struct Case {
    double lo, hi;
    Samples out0;
  };
  for (const Case& c : {Case{0.002, 0.005, {2, 3, 4}}, Case{0.005, 0.5, {5, 6, 7, 8, 9}},
                        Case{0.0101, 0.02, {}}, Case{-0.003, 0.002, {0, 1, 2, 3, 4}}, Case{0.006, 0.002, {}}}) {
    const TPlayRequest request = PlayRequest(doc, c.lo, c.hi, true, true);
    const Outputs o = readAll(request);
    EXPECT_EQ(o.out0, c.out0) << c.lo << " " << c.hi;
    EXPECT_EQ(o.out1.size(), c.out0.size());
    EXPECT_EQ(request.PositionLo, c.lo);
  }
  TTembrixDocument none;
  const Outputs empty = readAll(PlayRequest(none, 0.0, 1.0, true, true));
  EXPECT_TRUE(empty.out0.empty());
  EXPECT_TRUE(empty.out1.empty());

  // The whole time line (Lo = 1/R, Hi = N/R): frames 1 … N − 1.
  const TPlaySpan whole = PlaySpan(doc, doc.arTimeLine[0], doc.arTimeLine[9]);
  EXPECT_EQ(whole.s, 1);
  EXPECT_EQ(whole.n, 9);
}

// --- The document guards its samples against a playback reading them ---

// Reads a request on another thread, slice by slice, as a playback does, and
// tells how far it got before the samples were taken back.
class SpanReader {
 public:
  SpanReader(TTembrixDocument& doc, std::size_t slice) : request_(PlayRequest(doc, 0.0, 1e9, true, true)) {
    thread_ = std::thread([this, slice] {
      const std::size_t frames = request_.Source->Frames();
      std::vector<std::int16_t> out(2 * slice);
      for (std::size_t from = 0; from < frames; from += slice) {
        const std::size_t n = std::min(slice, frames - from);
        if (!request_.Source->Read(from, n, out.data())) break;
        for (std::size_t i = 0; i < n; ++i) wrong_ += out[2 * i] != std::int16_t((from + i) % 30000);
        read_ = from + n;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
  }
  ~SpanReader() { finish(); }
  // The frames read so far.
  std::size_t read() const { return read_; }
  // Waits until the reader is done: its last slice may end the reading before it counts it.
  void finish() {
    if (thread_.joinable()) thread_.join();
  }
  std::size_t wrong() const { return wrong_; }

 private:
  TPlayRequest request_;
  std::atomic<std::size_t> read_{0};
  std::atomic<std::size_t> wrong_{0};
  std::thread thread_;
};

TEST_F(Document, ACutWaitsUntilThePlaybackHasReadItsSpan) {
  TTembrixDocument doc;
  fill(doc, 20000, 1000, [](std::int32_t i) { return double(i % 30000); }, negative);
  SpanReader reader(doc, 1000);  // 20 slices, 2 ms apart
  doc.RemoveFrames(0, 10000);
  const bool cutFirst = reader.read() < 19000;  // the cut came before the reader's last slice began
  reader.finish();
  EXPECT_FALSE(cutFirst);
  EXPECT_EQ(reader.read(), 20000u) << "the cut moved samples still to be read";
  EXPECT_EQ(reader.wrong(), 0u);
  EXPECT_EQ(doc.arWAVENOP, 10000);
  EXPECT_EQ(doc.arLeftCH[0], 10000.0);
  EXPECT_EQ(doc.arRightCH[9999], -19999.0);
}

TEST_F(Document, ANewLoadAndTheDestructionStopThePlaybackWithinOneSlice) {
  for (bool destroy : {false, true}) {
    auto doc = std::make_unique<TTembrixDocument>();
    fill(*doc, 200000, 1000, [](std::int32_t i) { return double(i % 30000); }, negative);
    SpanReader reader(*doc, 1000);  // 200 slices: 0.4 s at least
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto start = std::chrono::steady_clock::now();
    if (destroy) {
      doc.reset();
    } else {
      doc->arReportPath = QStringLiteral("/nonexistent/none.wav");
      EXPECT_ANY_THROW(doc->ReadFile());  // the old samples are taken back first
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100)) << destroy;
    const std::size_t read = reader.read();
    EXPECT_GT(read, 0u);
    EXPECT_LT(read, 200000u) << "the reading was not stopped";
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(reader.read(), read) << "read on after the samples were taken back";
    EXPECT_EQ(reader.wrong(), 0u);
  }
}
