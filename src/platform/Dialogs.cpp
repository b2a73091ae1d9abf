#include "platform/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTreeView>

#include <atomic>

namespace Dialogs {
namespace {

std::atomic<Responder*> currentResponder{nullptr};

QMessageBox::Icon qtIcon(Icon icon) {
  switch (icon) {
    case Icon::Information: return QMessageBox::Information;
    case Icon::Warning: return QMessageBox::Warning;
    case Icon::Error:
    case Icon::Stop: return QMessageBox::Critical;
    case Icon::None: break;
  }
  return QMessageBox::NoIcon;
}

// The file list as the dialog shows it, with sizes and dates written in the
// application's language: the toolkit's own list writes them in the system's.
class TFileListInAppLocale : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;
  QVariant data(const QModelIndex& index, int role) const override {
    enum { SizeColumn = 1, TypeColumn = 2, DateColumn = 3 };
    auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || !files || index.column() < SizeColumn || index.column() > DateColumn)
      return QIdentityProxyModel::data(index, role);
    const QModelIndex source = mapToSource(index);
    switch (index.column()) {
      case SizeColumn: return files->isDir(source) ? QString() : QLocale().formattedDataSize(files->size(source));
      // The toolkit's catalogue has no word for a folder's type; the file
      // types come from the system's own database, already in the language.
      case TypeColumn:
        return files->isDir(source) ? QStringLiteral("Папка") : QIdentityProxyModel::data(index, role);
      default: return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
    }
  }
};

// The detail view's columns wide enough for Russian sizes, types and dates,
// and the dialog wide enough for them beside the names.
void widenFileList(QFileDialog* dialog) {
  dialog->resize(dialog->size().expandedTo(QSize(860, 520)));
  auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
  if (!view) return;
  const QFontMetrics metrics(view->font());
  const int pad = 3 * metrics.averageCharWidth();
  QHeaderView* header = view->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  header->resizeSection(1, metrics.horizontalAdvance(QStringLiteral("1 023,99 MiB")) + pad);
  header->resizeSection(2, metrics.horizontalAdvance(QStringLiteral("Аудио в формате WAV")) + pad);
  header->resizeSection(3, metrics.horizontalAdvance(QStringLiteral("00.00.0000 00:00")) + pad);
}

// A dialog waits for the user: while it is up the pointer is an arrow, also
// when the work that brought it up shows the wait cursor.
class TArrowWhileAsking {
 public:
  TArrowWhileAsking() : lifted_(QGuiApplication::overrideCursor() != nullptr) {
    if (lifted_) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  ~TArrowWhileAsking() {
    if (lifted_) QGuiApplication::restoreOverrideCursor();
  }
  TArrowWhileAsking(const TArrowWhileAsking&) = delete;
  TArrowWhileAsking& operator=(const TArrowWhileAsking&) = delete;

 private:
  bool lifted_;
};

// Dialogs live on the heap and are watched: should their owner window go while
// they run, it takes the dialog with it, and nothing frees it a second time.
void showBox(QWidget* owner, const Message& m) {
  const TArrowWhileAsking arrow;
  const QPointer<QMessageBox> box = new QMessageBox(qtIcon(m.icon), m.caption, m.text, QMessageBox::Ok, owner);
  box->exec();
  delete box.data();
}

// "wav|*.wav|all|*" -> "wav (*.wav);;all (*)"
QString qtFilter(const QString& filter) {
  const QStringList parts = filter.split(u'|');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    out << parts[i] + QStringLiteral(" (") + QString(parts[i + 1]).replace(u';', u' ') + u')';
  return out.join(QStringLiteral(";;"));
}

}  // namespace

void ShowMessage(QWidget* owner, const QString& text, const QString& caption, Icon icon) {
  const Message m{text, caption, icon, owner != nullptr};
  if (Responder* r = currentResponder.load()) {
    r->message(m);
    return;
  }
  if (QThread::currentThread() != qApp->thread()) {
    // Widgets live on the GUI thread only; a box without owner is queued there.
    QMetaObject::invokeMethod(qApp, [m] { showBox(nullptr, m); }, Qt::QueuedConnection);
    return;
  }
  showBox(owner, m);
}

void ShowMessageNonModal(const QString& text, const QString& caption, Icon icon) {
  const Message m{text, caption, icon, false, false};
  if (Responder* r = currentResponder.load()) {
    r->message(m);
    return;
  }
  QMetaObject::invokeMethod(qApp, [m] {
    auto* box = new QMessageBox(qtIcon(m.icon), m.caption, m.text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
  }, Qt::QueuedConnection);
}

int Ask(QWidget* owner, const QString& text, const QString& caption, const QStringList& buttons) {
  const Question q{text, caption, buttons, owner != nullptr};
  if (Responder* r = currentResponder.load()) return r->question(q);
  const int escape = static_cast<int>(buttons.size()) - 1;
  const TArrowWhileAsking arrow;
  const QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Question, caption, text, QMessageBox::NoButton, owner);
  std::vector<QPushButton*> pushed;
  for (const QString& name : buttons) pushed.push_back(box->addButton(name, QMessageBox::ActionRole));
  if (!pushed.empty()) {
    box->setDefaultButton(pushed.front());
    box->setEscapeButton(pushed.back());
  }
  box->exec();
  int answer = escape;
  if (box)
    for (std::size_t i = 0; i < pushed.size(); ++i)
      if (box->clickedButton() == pushed[i]) answer = static_cast<int>(i);
  delete box.data();
  return answer;
}

bool TFileDialog::Execute(QWidget* owner) {
  std::optional<QString> answer;
  if (Responder* r = currentResponder.load()) {
    answer = r->fileName(*this);
  } else {
    const TArrowWhileAsking arrow;
    const QPointer<QFileDialog> dialog = new QFileDialog(owner);
    // The toolkit's own dialog, in the application's language on every desktop.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setProxyModel(new TFileListInAppLocale(dialog));
    widenFileList(dialog);
    dialog->setAcceptMode(Kind == FileDialogKind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Both kinds return whatever name the user typed: the program checks for
    // existing files itself, refuses a missing one to open and never
    // overwrites one on saving.
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!Filter.isEmpty()) dialog->setNameFilter(qtFilter(Filter));
    if (!DefaultExt.isEmpty()) dialog->setDefaultSuffix(DefaultExt);
    if (!FileName.isEmpty()) dialog->selectFile(FileName);
    if (dialog->exec() == QDialog::Accepted && dialog && !dialog->selectedFiles().isEmpty())
      answer = dialog->selectedFiles().first();
    delete dialog.data();
  }
  if (!answer) return false;
  QString name = *answer;
  if (!DefaultExt.isEmpty() && QFileInfo(name).suffix().isEmpty() && !name.endsWith(u'/'))
    name += u'.' + DefaultExt;
  FileName = name;
  return true;
}

void Recorder::message(const Message& m) {
  std::lock_guard lock(mutex_);
  messages_.push_back(m);
}

std::optional<QString> Recorder::fileName(const TFileDialog& dialog) {
  std::lock_guard lock(mutex_);
  filters_.push_back(dialog.Filter);
  if (answers_.empty()) return std::nullopt;
  const QString answer = answers_.front();
  answers_.erase(answers_.begin());
  if (answer.isNull()) return std::nullopt;  // a queued cancel
  return answer;
}

int Recorder::question(const Question& q) {
  std::lock_guard lock(mutex_);
  questions_.push_back(q);
  if (buttons_.empty()) return static_cast<int>(q.buttons.size()) - 1;
  const int answer = buttons_.front();
  buttons_.erase(buttons_.begin());
  return answer;
}

void Recorder::queueAnswer(int button) {
  std::lock_guard lock(mutex_);
  buttons_.push_back(button);
}

std::vector<Question> Recorder::questions() const {
  std::lock_guard lock(mutex_);
  return questions_;
}

void Recorder::queueFileName(std::optional<QString> answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer ? (answer->isNull() ? QStringLiteral("") : *answer) : QString());
}

std::vector<Message> Recorder::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<QString> Recorder::dialogFilters() const {
  std::lock_guard lock(mutex_);
  return filters_;
}

void Recorder::clear() {
  std::lock_guard lock(mutex_);
  messages_.clear();
  answers_.clear();
  filters_.clear();
  questions_.clear();
  buttons_.clear();
}

void setResponder(Responder* r) { currentResponder.store(r); }
Responder* responder() { return currentResponder.load(); }

}  // namespace Dialogs
