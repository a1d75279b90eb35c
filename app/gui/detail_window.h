// DetailWindow: the modal window that shows one waybill's full tracking page.
#pragma once

#include <QDialog>
#include <QUrl>
#include <QWebEnginePage>

#include "app/detail_window.h"

class QWebEngineView;

namespace korvanel {

// A page that shows none of its own dialogs: script alerts, confirms and prompts, file
// choosers, certificate and login prompts all end silently.
class SilentPage : public QWebEnginePage {
  Q_OBJECT

 public:
  explicit SilentPage(QObject* parent = nullptr);

 protected:
  void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
  bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
  bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                        QString* result) override;
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                int lineNumber, const QString& sourceID) override;
  QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                          const QStringList& acceptedMimeTypes) override;
};

class DetailWindow : public QDialog, private DetailWindowView {
  Q_OBJECT

 public:
  // Runs InitDetailWindow, so the caption and the address come from selectedCellText.
  explicit DetailWindow(std::string_view prefix, QWidget* parent = nullptr);

  QWebEngineView* webView() const { return m_webView; }
  // The address given to the web view, as it was set (the page may redirect later).
  QUrl requestedUrl() const { return m_requestedUrl; }

 private:
  void SetCaption(std::string_view caption) override;
  void SetAddress(std::string_view address) override;

  QWebEngineView* m_webView;
  QUrl m_requestedUrl;
};

// Opens a fresh DetailWindow for each double-click and keeps the main window disabled
// while it is open.
class DetailWindowLauncher : public DetailWindowOpener {
 public:
  DetailWindowLauncher(QWidget* mainWindow, Text prefix);
  void OpenDetailWindow() override;

 private:
  QWidget* m_mainWindow;
  Text m_prefix;
};

}  // namespace korvanel
