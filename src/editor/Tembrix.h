// The editor frame of one audio window: one recording in memory (the document),
// its waveform and spectrogram views, the time selection, and the commands on the
// control panel.
//
// Use: construct the frame (this loads the signal-processing library; when it
// cannot be loaded the frame shows an error and ends the process with exit code 1),
// set arReportPath and arReverse, call InputWaveFile once, lay the frame out.
// Every handler runs on the GUI thread. An error a handler raises (a file error,
// "Файл уже существует. Невозможно перезаписать!") leaves the handler; when the
// handler ran for a control's event, the application's default error handler
// shows it.
//
// The frame holds the widgets and hands data to them. What it shows is worked
// out apart from any widget: the document and the time → frame conversion in
// TembrixDocument.h, the points of the two views in TembrixViews.h, the samples
// a playback receives in TembrixPlayRequest.h.
#pragma once

#include "chart/TChart.h"
#include "common/SharedTypes.h"
#include "editor/TembrixDocument.h"
#include "editor/TembrixViews.h"
#include "editor/TStaticText.h"
#include "platform/Dialogs.h"

#include <QFrame>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>
#include <stdexcept>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QThread;
class QToolButton;
class TSoundPlayThread;
struct TPlayRequest;

namespace Tembrix {
// The smallest selection a drag leaves: the dragged marker stops this far
// from the other one.
constexpr double MinSelectionGap = 0.001;  // seconds
}  // namespace Tembrix

// Saving refused because the chosen name already exists.
class EFileExists : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The time selection: Lo ≤ Hi in seconds on the waveform's time axis, and the
// three controls that show it (owned by the frame, children of PanelDiagramms).
struct TTimeSelect {
  double Lo = 0;
  double Hi = 0;
  TStaticText* LoTimeLine = nullptr;
  TStaticText* HiTimeLine = nullptr;
  TStaticText* ColorLabel = nullptr;
};

// The frame holds one document (TembrixDocument.h); the fields the open flow
// uses are public, the others are the frame's own.
class TFrameTembrix : public QFrame, private TTembrixDocument {
 public:
  explicit TFrameTembrix(QWidget* AOwner = nullptr);
  ~TFrameTembrix() override;

  // --- The document (public part) ---
  using TTembrixDocument::arReportPath;
  using TTembrixDocument::arReverse;
  using TTembrixDocument::arWAVENOP;
  using TTembrixDocument::arTimeLine;
  using TTembrixDocument::arLeftCH;
  using TTembrixDocument::arRightCH;

  // Loads arReportPath and shows the whole recording. A file the reader rejects
  // leaves the document empty and the charts as they were; reader errors pass on.
  void InputWaveFile();

  using TTembrixDocument::timeToFrame;
  using TTembrixDocument::spanToFrames;

  // True while the document holds edits that no file has: frames were cut
  // since it was loaded or last saved successfully.
  bool isModified() const { return modified_; }

  // --- Components (the design's names) ---
  QFrame* ScrollBox1;
  QFrame* PanelDirect;
  QFrame* PanelDiagramms;
  TChart* Chart1;  // left waveform
  TChart* Chart3;  // left spectrogram
  TChart* Chart2;  // right waveform
  TChart* Chart4;  // right spectrogram
  TFastLineSeries* Series1;
  TFastLineSeries* Series2;
  TIsoSurfaceSeries* Series3;
  TIsoSurfaceSeries* Series4;
  TStaticText* StaticTextPlayPosition;
  QScrollBar* ScrollBar1;
  TLabel* LabelYChart;  // sizes itself to its text
  QComboBox* ComboBoxYChart;
  QPushButton* ButtonFileSave;
  QToolButton* SpeedButtonSelect;
  QPushButton* ButtonSelectCut;
  QPushButton* ButtonMore;
  QPushButton* ButtonLess;
  QPushButton* Button1;  // "Play"
  QPushButton* ButtonStop;
  QGroupBox* GroupBoxChannels;
  QCheckBox* CheckBoxChannel1;  // "Левый"
  QCheckBox* CheckBoxChannel2;  // "Правый"
  Dialogs::TFileDialog SaveDialog1{Dialogs::FileDialogKind::Save};

  // --- Handlers ---
  void SpeedButtonSelectClick(QObject* Sender);
  void ArrMouseMove(QObject* Sender, TShiftState Shift, int X, int Y);
  void ArrMouseLeave(QObject* Sender);
  void ArrMouseDown(QObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  void ArrMouseUp(QObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  void ButtonMoreClick(QObject* Sender);
  void ButtonLessClick(QObject* Sender);
  void ScrollBar1Scroll(QObject* Sender, int ScrollCode, int& ScrollPos);
  void ButtonSelectCutClick(QObject* Sender);
  void ComboBoxYChartChange(QObject* Sender);
  void ButtonFileSaveClick(QObject* Sender);
  void Chart1MouseWheel(TChart* Sender, Qt::KeyboardModifiers Shift, int WheelDelta, QPoint MousePos, bool& Handled);
  void Chart2MouseWheel(TChart* Sender, Qt::KeyboardModifiers Shift, int WheelDelta, QPoint MousePos, bool& Handled);
  // Playback (TembrixPlayback.cpp).
  void Button1Click(QObject* Sender);
  void ButtonStopClick(QObject* Sender);

  // The item selected in ComboBoxYChart, or −1 while its text matches no item
  // (after the user typed into it).
  int ComboBoxYChartItemIndex() const;

 private:
  friend struct TembrixTestAccess;  // tests and benchmarks look inside

  TTimeSelect TimeSelect;
  bool modified_ = false;
  QPointer<TSoundPlayThread> SoundPlayThread;  // the playback this frame started last; null once it ended

  void RepaintDiagramms(std::int32_t n1, std::int32_t n2);
  void RepaintDiagAmplitude(std::int32_t n1, std::int32_t n2);
  void RepaintDiagFreq(std::int32_t n1, std::int32_t n2);
  // Empties all four charts: nothing is left to show.
  void clearCharts();
  void TimeSelectRedraw();

  void startPlayback(TPlayRequest Request);
  // Stops a playback of this frame and cuts it off from the controls
  // (TembrixPlayback.cpp).
  void StopPlaybackBeforeDestruction();

  // The construction, in its order.
  void createComponents();
  void loadSignalProcessingOrExit();
  void createSelectionMarkers();
  TStaticText* createMarker(bool line);
  void shareLeftAxisLabelRoom();
  void selectAutomaticScaleQuietly();
  void enableOnlyStartingControls();
};
