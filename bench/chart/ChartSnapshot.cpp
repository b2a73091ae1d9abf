// Renders a waveform chart and a spectrogram chart of one channel, one above
// the other, as the editor shows it, into the PNG file named on the command
// line. The channel is a two-second tone sweep, or the 16-bit little-endian
// mono samples at 22050 Hz of a raw file (scripts/screenshot makes one with
// speech for docs/chart.png).
#include "ToneSweep.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The height the editor gives each of its four charts in a typical window.
constexpr int kChartHeight = 108;

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: tembrix_chart_snapshot <file.png> [samples.raw]\n");
    return 2;
  }
  ToneSweep::TRecording recording;
  if (argc == 3) {
    QFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "cannot read %s\n", argv[2]);
      return 1;
    }
    const QByteArray bytes = file.readAll();
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
      std::int16_t sample = 0;
      std::memcpy(&sample, bytes.constData() + i, 2);
      recording.Samples.push_back(sample);
      recording.Time.push_back(static_cast<double>(recording.Samples.size()) / recording.SampleRate);
    }
    if (recording.Samples.size() < 64) {
      std::fprintf(stderr, "%s: fewer than 64 samples\n", argv[2]);
      return 1;
    }
  } else {
    recording = ToneSweep::Make(2.0);
  }

  TChart wave, spectrogram;
  for (TChart* chart : {&wave, &spectrogram}) {
    chart->resize(918, kChartHeight);
    chart->LeftAxis->SetLabelsSize(30);
  }
  wave.SetTitle(QStringLiteral("Левый канал."));
  spectrogram.SetTitle(QStringLiteral("Левый канал. График частотного спектра."));
  ToneSweep::FillWaveform(*wave.AddSeries<TFastLineSeries>(), recording);
  auto* series = spectrogram.AddSeries<TIsoSurfaceSeries>();
  series->BandPen.Visible = false;
  ToneSweep::FillSpectrogram(*series, ToneSweep::SpectrogramPoints(recording), 300);
  wave.Refresh();
  spectrogram.Refresh();

  QImage image(918, 2 * kChartHeight, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&image);
  wave.paintChart(painter);
  painter.translate(0, kChartHeight);
  spectrogram.paintChart(painter);
  painter.end();
  if (!image.save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
