#include "shell/WelcomePage.h"

#include "shell/FormFont.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QFrame>
#include <QMdiArea>
#include <QVBoxLayout>
#include <QWebEngineCertificateError>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <cstdlib>
#include <unistd.h>

QPointer<TForm2> Form2;

namespace {

// A page that never asks the user anything: script alerts are dropped,
// confirmations and prompts are answered "cancel", bad certificates are
// refused, and log-ins and file choosers are cancelled. A default alert would
// block in a modal loop of its own.
class TSilentPage : public QWebEnginePage {
 public:
  TSilentPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {
    connect(this, &QWebEnginePage::certificateError,
            [](QWebEngineCertificateError error) { error.rejectCertificate(); });
    connect(this, &QWebEnginePage::authenticationRequired,
            [](const QUrl&, QAuthenticator* authenticator) { *authenticator = QAuthenticator(); });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired,
            [](const QUrl&, QAuthenticator* authenticator, const QString&) { *authenticator = QAuthenticator(); });
  }

 protected:
  void javaScriptAlert(const QUrl&, const QString&) override {}
  bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
  bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
  QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override { return {}; }
};

}  // namespace

TForm2::TForm2(QMdiArea* mdiArea) : QMdiSubWindow(nullptr), Profile(new QWebEngineProfile(this)) {
  setAttribute(Qt::WA_DeleteOnClose);  // FormClose: closing frees the window
  setWindowTitle(QStringLiteral("WelcomPage"));
  setFont(FormFont());
  resize(832, 617);

  Panel1 = new QFrame;
  Panel1->setFrameShape(QFrame::Panel);
  Panel1->setFrameShadow(QFrame::Raised);
  auto* layout = new QVBoxLayout(Panel1);
  layout->setContentsMargins(1, 1, 1, 1);
  WebBrowser1 = new QWebEngineView(Panel1);
  WebBrowser1->setPage(new TSilentPage(Profile, WebBrowser1));
  layout->addWidget(WebBrowser1);
  setWidget(Panel1);

  mdiArea->addSubWindow(this);
  showMaximized();  // visible on creation; it appears with the main window
  WebBrowser1Setup();
}

TForm2::~TForm2() {
  // The page must go before the profile it was created with.
  delete Panel1;
}

void TForm2::WebBrowser1Setup() {
  // Loads asynchronously; a page that cannot be reached shows the browser's
  // own error page and nothing else happens.
  WebBrowser1->load(NewsPageUrl);
}

void PrepareWebEngine() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
}
