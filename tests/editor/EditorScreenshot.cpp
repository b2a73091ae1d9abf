// Renders the editor frame with a recording, laid out as the open flow does and
// with a selection shown, into a PNG (docs/editor.png comes from here; see
// make-screenshot.sh). Usage: tembrix_editor_screenshot <recording.wav> <out.png>
#include "EditorTestSupport.h"
#include "shell/FrameLayout.h"

#include "platform/Application.h"

#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  TApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <recording.wav> <out.png>\n", argv[0]);
    return 2;
  }
  TFrameTembrix frame;
  frame.setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
  frame.resize(1280, 760);
  LayOutFrame(frame);
  frame.show();
  frame.arReportPath = QString::fromLocal8Bit(argv[1]);
  frame.InputWaveFile();
  if (frame.arWAVENOP <= 0) {
    std::fprintf(stderr, "%s: not a recording the editor can show\n", argv[1]);
    return 1;
  }
  // Selection mode on, narrowed to the middle of the recording.
  frame.SpeedButtonSelect->click();
  TTimeSelect& selection = TembrixTestAccess::TimeSelect(frame);
  const double length = frame.arTimeLine[frame.arWAVENOP - 1];
  selection.Lo = length * 0.40;
  selection.Hi = length * 0.62;
  TembrixTestAccess::TimeSelectRedraw(frame);
  QApplication::processEvents();
  return frame.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
