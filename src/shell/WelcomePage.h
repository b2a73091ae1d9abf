// The welcome window: an MDI child that shows the vendor's news page in an
// embedded browser. The browser never opens a dialog of its own.
#pragma once

#include <QMdiSubWindow>
#include <QPointer>
#include <QUrl>

class QFrame;
class QMdiArea;
class QWebEngineProfile;
class QWebEngineView;

// The vendor's news page, opened when the window is created.
inline const QUrl NewsPageUrl{QStringLiteral("https://www.zarnit.example/news/")};

class TForm2 : public QMdiSubWindow {
  Q_OBJECT
 public:
  // Creates the window maximized inside `mdiArea` and starts loading the news page.
  explicit TForm2(QMdiArea* mdiArea);
  ~TForm2() override;

  QFrame* Panel1;
  QWebEngineView* WebBrowser1;

 private:
  void WebBrowser1Setup();
  // No storage name: the browser keeps no cookies, cache or history on disk.
  QWebEngineProfile* Profile;
};

extern QPointer<TForm2> Form2;

// What the web engine needs before the application object exists: shared
// OpenGL contexts, and, when running as root, its sandbox switched off (the
// engine refuses to start as root otherwise).
void PrepareWebEngine();
