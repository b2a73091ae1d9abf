// Renders a waveform chart and a spectrogram chart of a two-second tone sweep,
// one above the other, as the editor shows a channel, into the PNG file named
// on the command line.
#include "ToneSweep.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <cstdlib>

// The height the editor gives each of its four charts in a typical window.
constexpr int kChartHeight = 108;

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: tembrix_chart_snapshot <file.png>\n");
    return 2;
  }
  const ToneSweep::TRecording recording = ToneSweep::Make(2.0);

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
