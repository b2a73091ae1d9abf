// The audio window: an MDI child holding one editor frame, and with it one
// recording.
#pragma once

#include <QMdiSubWindow>
#include <QPointer>

class QMdiArea;
class TFrameTembrix;

class TForm3 : public QMdiSubWindow {
  Q_OBJECT
 public:
  // Creates the window maximized and visible inside `mdiArea`. Constructing the
  // frame loads the signal-processing library (and ends the process when it
  // cannot be loaded).
  explicit TForm3(QMdiArea* mdiArea);

  TFrameTembrix* FrameTembrix1;  // fills the window

  // Whether the window may close now. A recording with edits no file holds
  // asks first: "Сохранить" saves (and allows closing only when the save
  // succeeded), "Не сохранять" allows it, "Отмена" keeps the window.
  bool MayClose();

 protected:
  void closeEvent(QCloseEvent* event) override;
};

// The audio window opened most recently; null once that window is closed.
extern QPointer<TForm3> Form3;
