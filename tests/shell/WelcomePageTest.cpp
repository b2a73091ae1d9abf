#include "shell/WelcomePage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QMdiArea>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

// Every modal dialog that is open right now.
int openDialogs() {
  int count = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<QDialog*>(w) && w->isVisible()) ++count;
  return count;
}

TEST(WelcomePage, ScriptDialogsAndErrorsStaySilent) {
  QTemporaryDir dir;
  const QString page = dir.filePath(QStringLiteral("page.html"));
  QFile file(page);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(R"(<html><body><script>
    alert("alert from the page");
    var c = confirm("confirm from the page");
    var p = prompt("prompt from the page", "default");
    document.title = "done:" + c + ":" + p;
    functionThatDoesNotExist();
  </script></body></html>)");
  file.close();

  QMdiArea area;
  area.resize(800, 600);
  area.show();
  auto* form = new TForm2(&area);
  EXPECT_TRUE(form->isMaximized());
  EXPECT_EQ(form->windowTitle(), QStringLiteral("WelcomPage"));

  QSignalSpy loaded(form->WebBrowser1, &QWebEngineView::loadFinished);
  form->WebBrowser1->load(QUrl::fromLocalFile(page));
  // The script ran to its end: alert returned, confirm and prompt answered cancel.
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->WebBrowser1->title() == QStringLiteral("done:false:null"); }, 30000))
      << form->WebBrowser1->title().toStdString();
  EXPECT_EQ(openDialogs(), 0);
  delete form;
}

TEST(WelcomePage, UnreachableNewsPageEndsQuietly) {
  QMdiArea area;
  area.show();
  auto* form = new TForm2(&area);
  QSignalSpy loaded(form->WebBrowser1, &QWebEngineView::loadFinished);
  // The placeholder host does not resolve: the browser shows its own error page.
  ASSERT_TRUE(loaded.wait(30000));
  EXPECT_EQ(form->WebBrowser1->url(), NewsPageUrl);
  EXPECT_EQ(openDialogs(), 0);
  form->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(area.subWindowList().isEmpty());
}

// The browser speaks the application's language: its own error page and the
// languages it tells pages are Russian whatever the system's locale.
TEST(WelcomePage, BrowsersOwnErrorPageIsRussian) {
  QMdiArea area;
  area.show();
  auto* form = new TForm2(&area);
  QSignalSpy loaded(form->WebBrowser1, &QWebEngineView::loadFinished);
  ASSERT_TRUE(loaded.wait(30000));
  QWebEnginePage* page = form->WebBrowser1->page();
  QString text, languages;
  page->toPlainText([&](const QString& t) { text = t; });
  page->runJavaScript(QStringLiteral("navigator.languages.join(',')"),
                      [&](const QVariant& v) { languages = v.toString(); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !text.isEmpty() && !languages.isEmpty(); }, 10000));
  EXPECT_TRUE(text.contains(QStringLiteral("Не удается получить доступ к сайту"))) << text.toStdString();
  EXPECT_EQ(languages, QStringLiteral("ru"));
  delete form;
}

}  // namespace
