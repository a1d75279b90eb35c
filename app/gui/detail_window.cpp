#include "app/gui/detail_window.h"

#include <QAuthenticator>
#include <QPointer>
#include <QWebEngineCertificateError>
#include <QWebEngineView>

#include "app/gui/qt_text.h"
#include "app/gui/window_frame.h"

namespace korvanel {

SilentPage::SilentPage(QObject* parent) : QWebEnginePage(parent) {
  connect(this, &QWebEnginePage::certificateError, this,
          [](QWebEngineCertificateError error) { error.rejectCertificate(); });
  connect(this, &QWebEnginePage::authenticationRequired, this,
          [](const QUrl&, QAuthenticator* authenticator) { *authenticator = QAuthenticator(); });
  connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
          [](const QUrl&, QAuthenticator* authenticator, const QString&) {
            *authenticator = QAuthenticator();
          });
  connect(this, &QWebEnginePage::featurePermissionRequested, this,
          [this](const QUrl& origin, Feature feature) {
            setFeaturePermission(origin, feature, PermissionDeniedByUser);
          });
}

void SilentPage::javaScriptAlert(const QUrl&, const QString&) {}
bool SilentPage::javaScriptConfirm(const QUrl&, const QString&) { return false; }
bool SilentPage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) {
  return false;
}
void SilentPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                          const QString&) {}
QStringList SilentPage::chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) {
  return {};
}

DetailWindow::DetailWindow(std::string_view prefix, QWidget* parent)
    : QDialog(parent, kFixedWindowFlags) {
  setWindowModality(Qt::ApplicationModal);
  new FixedOuterSize(this, QSize(485, 482));

  auto* canvas = new QWidget(this);
  canvas->setObjectName(QStringLiteral("画板1"));
  canvas->setGeometry(8, 8, 464, 432);

  m_webView = new QWebEngineView(canvas);
  m_webView->setObjectName(QStringLiteral("超文本浏览框1"));
  m_webView->setPage(new SilentPage(m_webView));
  m_webView->setGeometry(6, 2, 436, 414);

  InitDetailWindow(*this, prefix);
}

void DetailWindow::SetCaption(std::string_view caption) { setWindowTitle(ToQString(caption)); }

void DetailWindow::SetAddress(std::string_view address) {
  m_requestedUrl = ToQUrl(address);
  m_webView->setUrl(m_requestedUrl);
}

DetailWindowLauncher::DetailWindowLauncher(QWidget* mainWindow, Text prefix)
    : m_mainWindow(mainWindow), m_prefix(std::move(prefix)) {}

void DetailWindowLauncher::OpenDetailWindow() {
  // The main window may go away while the window is open (the program is ending).
  QPointer<QWidget> mainWindow = m_mainWindow;
  DetailWindow window(m_prefix);
  if (mainWindow) mainWindow->setEnabled(false);
  window.exec();
  if (mainWindow) mainWindow->setEnabled(true);
}

}  // namespace korvanel
