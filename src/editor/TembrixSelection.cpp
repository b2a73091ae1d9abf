// The time selection: selection mode, the two marker lines and the band under
// the charts, and dragging the markers.
#include "editor/Tembrix.h"

#include <QCheckBox>
#include <QPushButton>
#include <QToolButton>

void TFrameTembrix::SpeedButtonSelectClick(QObject* /*Sender*/) {
  const bool on = SpeedButtonSelect->isChecked();
  if (on) {
    // The range the chart computed at its last repaint: the whole drawn view.
    TimeSelect.Lo = Chart1->BottomAxis->Minimum();
    TimeSelect.Hi = Chart1->BottomAxis->Maximum();
    TimeSelectRedraw();
  } else {
    TimeSelect.HiTimeLine->hide();
    TimeSelect.LoTimeLine->hide();
    TimeSelect.ColorLabel->hide();
    // Lo and Hi keep their values.
  }
  ButtonSelectCut->setEnabled(on);
  ButtonMore->setEnabled(on);
  Button1->setEnabled(on);
  ButtonStop->setEnabled(on);
  CheckBoxChannel1->setEnabled(on);
  CheckBoxChannel2->setEnabled(on);
}

void TFrameTembrix::TimeSelectRedraw() {
  // Chart1's pixel columns serve unchanged as columns of PanelDiagramms.
  const TChartAxis& axis = *Chart1->BottomAxis;
  const int top = Chart1->ChartRect().Top + 1;
  const int height = Chart1->Height() + Chart2->Height() + Chart3->Height() + Chart4->Height() - 50;

  TStaticText* lo = TimeSelect.LoTimeLine;
  lo->setGeometry(axis.CalcPosValue(TimeSelect.Lo), top, lo->width(), height);
  lo->show();

  TStaticText* hi = TimeSelect.HiTimeLine;
  hi->setGeometry(axis.CalcPosValue(TimeSelect.Hi), top, hi->width(), height);
  hi->show();

  TStaticText* band = TimeSelect.ColorLabel;
  const int bandLeft = axis.CalcPosValue(TimeSelect.Lo);
  const int bandTop = Chart1->ChartRect().Bottom + Chart2->Height() + Chart3->Height() + Chart4->Height();
  band->setGeometry(bandLeft, bandTop, std::max(0, axis.CalcPosValue(TimeSelect.Hi) - bandLeft), band->height());
  band->show();

  lo->repaint();
  hi->repaint();
  band->repaint();
}

void TFrameTembrix::ArrMouseLeave(QObject* Sender) {
  if (Sender == TimeSelect.LoTimeLine || Sender == TimeSelect.HiTimeLine) {
    TimeSelect.LoTimeLine->resize(1, TimeSelect.LoTimeLine->height());
    TimeSelect.HiTimeLine->resize(1, TimeSelect.HiTimeLine->height());
  }
  TimeSelectRedraw();
}

void TFrameTembrix::ArrMouseMove(QObject* Sender, TShiftState Shift, int X, int /*Y*/) {
  using Tembrix::MinSelectionGap;
  TStaticText* lo = TimeSelect.LoTimeLine;
  TStaticText* hi = TimeSelect.HiTimeLine;
  if (Sender == lo || Sender == hi) {  // hover highlight
    lo->resize(2, lo->height());
    hi->resize(2, hi->height());
  }
  if (Shift & ssLeft) {
    double& Lo = TimeSelect.Lo;
    double& Hi = TimeSelect.Hi;
    // The dragged marker gives way to the other one, on its own side.
    if (Sender == lo) {
      Lo = Series1->XScreenToValue(lo->x() + X - Chart1->Left());
      if (Hi - Lo < MinSelectionGap) Lo = Hi - MinSelectionGap;
    } else if (Sender == hi) {
      Hi = Series1->XScreenToValue(hi->x() + X - Chart1->Left());
      if (Hi - Lo < MinSelectionGap) Hi = Lo + MinSelectionGap;
    }
    // The drawn waveform's bounds come last and win over the gap.
    if (Series1->MinXValue() > Lo) Lo = Series1->MinXValue();
    if (Series1->MaxXValue() < Hi) Hi = Series1->MaxXValue();
  }
  TimeSelectRedraw();
}

void TFrameTembrix::ArrMouseDown(QObject*, TMouseButton, TShiftState, int, int) {}

void TFrameTembrix::ArrMouseUp(QObject*, TMouseButton, TShiftState, int, int) {}
