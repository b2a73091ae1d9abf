// The frame's construction and destruction, and the two views' charts.
#include "editor/Tembrix.h"

#include "platform/AlignLayout.h"
#include "platform/Application.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QThread>
#include <QToolButton>

#include <cstdlib>
#include <optional>

using namespace AlignLayout;
using namespace Tembrix;

namespace {

// Colours of the design, as red, green, blue.
const QColor kMarkerColor(0xFF, 0x6A, 0x00);  // 27391
const QColor kWaveColor(0x44, 0x66, 0xA3);    // 10708548
const QColor kSpectrumColor(0x00, 0x00, 0xA0);  // 10485760

template <class W>
W* place(W* widget, int left, int top, int width, int height) {
  widget->setGeometry(left, top, width, height);
  return widget;
}

QPushButton* button(QWidget* parent, const QString& caption, int left, int top, int width, int height) {
  return place(new QPushButton(caption, parent), left, top, width, height);
}

TChart* chart(QWidget* parent, const QString& title, int left, int top, int width, int height) {
  auto* c = place(new TChart(parent), left, top, width, height);
  c->SetTitle(title);
  return c;
}

}  // namespace

TFrameTembrix::TFrameTembrix(QWidget* AOwner) : QFrame(AOwner) {
  createComponents();
  loadSignalProcessingOrExit();
  createSelectionMarkers();
  shareLeftAxisLabelRoom();
  selectAutomaticScaleQuietly();
  enableOnlyStartingControls();
}

// The document gives its buffers and its use of the library back after this.
TFrameTembrix::~TFrameTembrix() {
  StopPlaybackBeforeDestruction();
  delete TimeSelect.LoTimeLine;
  TimeSelect.LoTimeLine = nullptr;
  delete TimeSelect.HiTimeLine;
  TimeSelect.HiTimeLine = nullptr;
  delete TimeSelect.ColorLabel;
  TimeSelect.ColorLabel = nullptr;
}

// Without the signal-processing library the editor cannot work at all.
void TFrameTembrix::loadSignalProcessingOrExit() {
  if (AcquireLibrary()) return;
  Dialogs::ShowMessage(nullptr,
                       QStringLiteral("Не удается загрузить библиотеки обработки сигнала") + u'\r' +
                           QStringLiteral("Дальнейшая работа невозможна"),
                       QStringLiteral("Ошибка"), Dialogs::Icon::Error);
  // Either way the modules' clean-up (static destructors) still runs. Inside
  // the program's event loop the loop ends with the code, so that the windows
  // and the browser are gone before that clean-up; a frame made outside any
  // loop ends the process here.
  if (QCoreApplication::instance() && QThread::currentThread()->loopLevel() > 0) throw TApplication::EExit{1};
  std::exit(1);
}

// All four charts reserve the same room for the left axis' labels.
void TFrameTembrix::shareLeftAxisLabelRoom() {
  Chart1->LeftAxis->SetLabelsSize(30);
  Chart2->LeftAxis->SetLabelsSize(Chart1->LeftAxis->LabelsSize());
  Chart3->LeftAxis->SetLabelsSize(Chart1->LeftAxis->LabelsSize());
  Chart4->LeftAxis->SetLabelsSize(Chart1->LeftAxis->LabelsSize());
}

// "Авто" without running the change handler.
void TFrameTembrix::selectAutomaticScaleQuietly() {
  const QSignalBlocker block(ComboBoxYChart);
  ComboBoxYChart->setCurrentIndex(1);
}

// Only the select button, the scale selector and saving are usable at first.
void TFrameTembrix::enableOnlyStartingControls() {
  SpeedButtonSelect->setEnabled(true);
  ButtonSelectCut->setEnabled(false);
  ButtonMore->setEnabled(false);
  ButtonLess->setEnabled(false);
  Button1->setEnabled(false);
  ButtonStop->setEnabled(false);
  CheckBoxChannel1->setEnabled(false);
  CheckBoxChannel2->setEnabled(false);
}

void TFrameTembrix::createComponents() {
  resize(443, 293);

  // The scroll box never scrolls: it is a bordered container whose content is clipped.
  ScrollBox1 = place(new QFrame(this), 0, 0, 443, 293);
  ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
  ScrollBox1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  ScrollBox1->setLineWidth(2);
  SetAlign(ScrollBox1, alClient);

  PanelDirect = place(new QFrame(ScrollBox1), 0, 139, 439, 150);
  PanelDirect->setObjectName(QStringLiteral("PanelDirect"));
  PanelDirect->setFrameStyle(QFrame::Panel | QFrame::Raised);
  PanelDirect->setLineWidth(1);
  {
    QPalette p = PanelDirect->palette();
    p.setColor(QPalette::Window, Qt::white);
    PanelDirect->setPalette(p);
    PanelDirect->setAutoFillBackground(true);
  }
  SetAlign(PanelDirect, alBottom);

  PanelDiagramms = place(new QFrame(ScrollBox1), 0, 0, 439, 139);
  PanelDiagramms->setObjectName(QStringLiteral("PanelDiagramms"));
  PanelDiagramms->setFrameStyle(QFrame::Panel | QFrame::Raised);
  PanelDiagramms->setLineWidth(1);
  SetAlign(PanelDiagramms, alClient);

  // Controls of the panel, anchored to its top-left corner.
  ScrollBar1 = place(new QScrollBar(Qt::Horizontal, PanelDirect), 25, 26, 753, 17);
  ScrollBar1->setRange(0, 100);
  ScrollBar1->setSingleStep(1);
  ScrollBar1->setPageStep(1);
  ScrollBar1->setValue(0);
  ScrollBar1->setEnabled(false);
  LabelYChart = place(new TLabel(QStringLiteral("Лев. ось"), PanelDirect), 22, 49, 43, 13);
  LabelYChart->adjustSize();
  ComboBoxYChart = place(new QComboBox(PanelDirect), 71, 49, 65, 21);
  ComboBoxYChart->setEditable(true);
  ComboBoxYChart->setInsertPolicy(QComboBox::NoInsert);
  ComboBoxYChart->addItems({QStringLiteral("Фикс"), QStringLiteral("Авто")});
  ComboBoxYChart->setCurrentIndex(-1);  // design: no item, empty text
  // Typing never selects an item: no completion, and the toolkit's own
  // look-up of the typed text when editing finishes (Enter, focus leaving)
  // is cut off. Only choosing from the list selects.
  ComboBoxYChart->setCompleter(nullptr);
  QObject::disconnect(ComboBoxYChart->lineEdit(), &QLineEdit::editingFinished, ComboBoxYChart, nullptr);
  ButtonFileSave = button(PanelDirect, QStringLiteral("Сохранить в файл"), 16, 76, 129, 25);
  SpeedButtonSelect = place(new QToolButton(PanelDirect), 211, 67, 129, 25);
  SpeedButtonSelect->setText(QStringLiteral("Выделить"));
  SpeedButtonSelect->setCheckable(true);
  SpeedButtonSelect->setFocusPolicy(Qt::NoFocus);  // a speed button takes no focus
  ButtonSelectCut = button(PanelDirect, QStringLiteral("Вырезать"), 362, 67, 113, 25);
  ButtonMore = button(PanelDirect, QStringLiteral("Увеличить"), 497, 67, 113, 25);
  ButtonLess = button(PanelDirect, QStringLiteral("Сброс"), 632, 67, 113, 25);
  ButtonLess->setEnabled(false);
  Button1 = button(PanelDirect, QStringLiteral("Play"), 798, 67, 75, 25);
  ButtonStop = button(PanelDirect, QStringLiteral("Stop"), 894, 67, 75, 25);
  GroupBoxChannels = place(new QGroupBox(QStringLiteral("Выбор каналов"), PanelDirect), 800, 17, 169, 44);
  CheckBoxChannel1 = place(new QCheckBox(QStringLiteral("Левый"), GroupBoxChannels), 16, 16, 57, 17);
  CheckBoxChannel1->setChecked(true);
  CheckBoxChannel2 = place(new QCheckBox(QStringLiteral("Правый"), GroupBoxChannels), 93, 16, 65, 17);
  CheckBoxChannel2->setChecked(true);

  // Tab order within the panel: Play, channels, Stop, Увеличить, Сброс, scroll bar,
  // save, cut, scale selector.
  QWidget::setTabOrder(Button1, CheckBoxChannel1);
  QWidget::setTabOrder(CheckBoxChannel1, CheckBoxChannel2);
  QWidget::setTabOrder(CheckBoxChannel2, ButtonStop);
  QWidget::setTabOrder(ButtonStop, ButtonMore);
  QWidget::setTabOrder(ButtonMore, ButtonLess);
  QWidget::setTabOrder(ButtonLess, ScrollBar1);
  QWidget::setTabOrder(ScrollBar1, ButtonFileSave);
  QWidget::setTabOrder(ButtonFileSave, ButtonSelectCut);
  QWidget::setTabOrder(ButtonSelectCut, ComboBoxYChart);

  // Charts, stacked from the top in the order of their design positions.
  Chart1 = chart(PanelDiagramms, QStringLiteral("Левый канал."), 1, 1, 437, 72);
  Chart3 = chart(PanelDiagramms, QStringLiteral("Левый канал. График частотного спектра."), 1, 73, 437, 64);
  Chart2 = chart(PanelDiagramms, QStringLiteral("Правый канал."), 1, 137, 437, 104);
  Chart4 = chart(PanelDiagramms, QStringLiteral("Правый канал. График частотного спектра."), 1, 241, 437, 120);
  Chart1->setObjectName(QStringLiteral("Chart1"));
  Chart2->setObjectName(QStringLiteral("Chart2"));
  Chart3->setObjectName(QStringLiteral("Chart3"));
  Chart4->setObjectName(QStringLiteral("Chart4"));
  for (TChart* c : {Chart1, Chart3, Chart2, Chart4}) SetAlign(c, alTop);

  Series1 = Chart1->AddSeries<TFastLineSeries>();
  Series2 = Chart2->AddSeries<TFastLineSeries>();
  Series1->SeriesColor = kWaveColor;
  Series2->SeriesColor = kWaveColor;
  Series3 = Chart3->AddSeries<TIsoSurfaceSeries>();
  Series4 = Chart4->AddSeries<TIsoSurfaceSeries>();
  for (TIsoSurfaceSeries* s : {Series3, Series4}) {
    s->IrregularGrid = true;
    s->NumXValues = 100;
    s->NumZValues = 100;
    s->Pen.Visible = false;
    s->BandPen.Visible = false;
  }
  Series3->SeriesColor = kSpectrumColor;

  StaticTextPlayPosition = place(new TStaticText(PanelDiagramms), 80, 56, 1, 17);
  StaticTextPlayPosition->SetColor(Qt::red);
  {
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    StaticTextPlayPosition->setFont(f);
  }
  StaticTextPlayPosition->hide();

  SaveDialog1.Filter = QStringLiteral("wav|*.wav");
  SaveDialog1.DefaultExt = QStringLiteral("wav");

  // Events. Each handler runs guarded: an error it raises is shown by the
  // application's default error handler without unwinding through the toolkit.
  connect(ScrollBar1, &QScrollBar::actionTriggered, this, [this](int action) {
    // Every scroll action, thumb drags included; the new position is already there.
    int pos = ScrollBar1->sliderPosition();
    TApplication::Guard([&] { ScrollBar1Scroll(ScrollBar1, action, pos); });
  });
  // The user picks an item or types into the text field.
  auto scaleChanged = [this] { TApplication::Guard([this] { ComboBoxYChartChange(ComboBoxYChart); }); };
  connect(ComboBoxYChart, &QComboBox::activated, this, scaleChanged);
  connect(ComboBoxYChart->lineEdit(), &QLineEdit::textEdited, this, scaleChanged);
  auto onClick = [this](QAbstractButton* button, void (TFrameTembrix::*handler)(QObject*)) {
    connect(button, &QAbstractButton::clicked, this, [this, button, handler] { TApplication::Guard([&] { (this->*handler)(button); }); });
  };
  onClick(ButtonFileSave, &TFrameTembrix::ButtonFileSaveClick);
  onClick(SpeedButtonSelect, &TFrameTembrix::SpeedButtonSelectClick);
  onClick(ButtonSelectCut, &TFrameTembrix::ButtonSelectCutClick);
  onClick(ButtonMore, &TFrameTembrix::ButtonMoreClick);
  onClick(ButtonLess, &TFrameTembrix::ButtonLessClick);
  onClick(Button1, &TFrameTembrix::Button1Click);
  onClick(ButtonStop, &TFrameTembrix::ButtonStopClick);
  Chart1->OnMouseWheel = [this](TChart* s, Qt::KeyboardModifiers sh, int d, QPoint p, bool& h) {
    TApplication::Guard([&] { Chart1MouseWheel(s, sh, d, p, h); });
  };
  Chart2->OnMouseWheel = [this](TChart* s, Qt::KeyboardModifiers sh, int d, QPoint p, bool& h) {
    TApplication::Guard([&] { Chart2MouseWheel(s, sh, d, p, h); });
  };
}

TStaticText* TFrameTembrix::createMarker(bool line) {
  auto* m = new TStaticText(PanelDiagramms);
  m->hide();
  if (line) {
    m->setEnabled(true);
    m->resize(1, m->height());
  } else {
    m->resize(m->width(), 10);
  }
  m->SetColor(kMarkerColor);
  if (line) {
    m->OnMouseDown = [this](QObject* s, TMouseButton b, TShiftState sh, int x, int y) {
      TApplication::Guard([&] { ArrMouseDown(s, b, sh, x, y); });
    };
    m->SetOnMouseMove([this](QObject* s, TShiftState sh, int x, int y) { TApplication::Guard([&] { ArrMouseMove(s, sh, x, y); }); });
    m->OnMouseUp = [this](QObject* s, TMouseButton b, TShiftState sh, int x, int y) {
      TApplication::Guard([&] { ArrMouseUp(s, b, sh, x, y); });
    };
    m->OnMouseLeave = [this](QObject* s) { TApplication::Guard([&] { ArrMouseLeave(s); }); };
    m->setCursor(Qt::SizeHorCursor);
  }
  return m;
}

// The selection markers, above the charts and the play line.
void TFrameTembrix::createSelectionMarkers() {
  TimeSelect.LoTimeLine = createMarker(true);
  TimeSelect.LoTimeLine->setObjectName(QStringLiteral("LoTimeLine"));
  TimeSelect.HiTimeLine = createMarker(true);
  TimeSelect.HiTimeLine->setObjectName(QStringLiteral("HiTimeLine"));
  TimeSelect.ColorLabel = createMarker(false);
  TimeSelect.ColorLabel->setObjectName(QStringLiteral("ColorLabel"));
  TimeSelect.LoTimeLine->raise();
  TimeSelect.HiTimeLine->raise();
  TimeSelect.ColorLabel->raise();
}

int TFrameTembrix::ComboBoxYChartItemIndex() const {
  const int i = ComboBoxYChart->currentIndex();
  return i >= 0 && ComboBoxYChart->currentText() == ComboBoxYChart->itemText(i) ? i : -1;
}

// --- The document and its two views ---

void TFrameTembrix::InputWaveFile() {
  modified_ = false;
  if (ReadFile()) RepaintDiagramms(0, arWAVENOP);
}

void TFrameTembrix::RepaintDiagramms(std::int32_t n1, std::int32_t n2) {
  RepaintDiagAmplitude(n1, n2);
  RepaintDiagFreq(n1, n2);
}

void TFrameTembrix::RepaintDiagAmplitude(std::int32_t n1, std::int32_t n2) {
  const std::optional<TWaveformPoints> points = WaveformPoints(*this, n1, n2);
  if (!points) return;  // an empty range: the charts keep what they show
  Series1->Clear();
  Series2->Clear();
  for (std::size_t i = 0; i < points->X.size(); ++i) {
    Series1->AddXY(points->X[i], points->Left[i]);
    Series2->AddXY(points->X[i], points->Right[i]);
  }
  Chart1->Refresh();
  Chart2->Refresh();
}

void TFrameTembrix::RepaintDiagFreq(std::int32_t n1, std::int32_t n2) {
  const std::optional<TSpectrogramColumns> columns = SpectrogramColumns(*this, n1, n2);
  if (!columns) return;  // an empty range: the charts keep what they show
  for (TIsoSurfaceSeries* s : {Series3, Series4}) {
    s->Clear();
    s->NumXValues = columns->Columns;
    s->NumZValues = columns->Bins;
    s->IrregularGrid = true;
  }
  std::size_t point = 0;
  for (const double x : columns->X)
    for (const double z : columns->Z) {
      Series3->AddXYZ(x, columns->Left[point], z);
      Series4->AddXYZ(x, columns->Right[point], z);
      ++point;
    }
  Chart3->Refresh();
  Chart4->Refresh();
}

void TFrameTembrix::clearCharts() {
  for (TChartSeries* s : std::initializer_list<TChartSeries*>{Series1, Series2, Series3, Series4}) s->Clear();
  for (TChart* c : {Chart1, Chart2, Chart3, Chart4}) c->Refresh();
}
