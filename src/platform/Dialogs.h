// The one place that shows message boxes and file dialogs. Tests install a
// Responder that answers instead of a person; without one the real dialogs run.
#pragma once

#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>
#include <vector>

class QWidget;

namespace Dialogs {

enum class Icon { None, Information, Warning, Error, Stop };

struct Message {
  QString text;
  QString caption;
  Icon icon = Icon::None;
  bool hasOwner = false;
  bool blocksOtherWindows = true;  // false for ShowMessageNonModal
};

// A box with one OK button. `owner` may be null: a box without owner window.
// Safe to call from any thread: off the GUI thread the box is queued to it.
void ShowMessage(QWidget* owner, const QString& text, const QString& caption, Icon icon);

// A box without owner window that blocks no other window: it is shown on the
// GUI thread and left open, and the call returns at once. Safe to call from
// any thread.
void ShowMessageNonModal(const QString& text, const QString& caption, Icon icon);

struct Question {
  QString text;
  QString caption;
  QStringList buttons;
  bool hasOwner = false;
};

// A question box: the buttons named, the first the default, the last the
// answer to Escape or to closing the box. The result is the index of the
// chosen button. GUI thread only.
int Ask(QWidget* owner, const QString& text, const QString& caption, const QStringList& buttons);

enum class FileDialogKind { Open, Save };

// A file dialog component with the properties the forms set at design time.
class TFileDialog {
 public:
  explicit TFileDialog(FileDialogKind kind) : Kind(kind) {}
  FileDialogKind Kind;
  QString Filter;      // "description|pattern|description|pattern…"
  QString DefaultExt;  // without the dot; appended when the name has no extension
  QString FileName;    // the chosen name after Execute returned true
  // Runs the dialog; false when the user cancelled.
  bool Execute(QWidget* owner);
};

// Test seam. Each answer is one queued reply; an empty queue answers "cancel".
class Responder {
 public:
  virtual ~Responder() = default;
  virtual void message(const Message& m) = 0;
  // nullopt means the user cancelled.
  virtual std::optional<QString> fileName(const TFileDialog& dialog) = 0;
  // The index of the button chosen; by default the last one (Escape).
  virtual int question(const Question& q) { return static_cast<int>(q.buttons.size()) - 1; }
};

// A ready-made responder that records messages and answers file dialogs from a queue.
class Recorder : public Responder {
 public:
  void message(const Message& m) override;
  std::optional<QString> fileName(const TFileDialog& dialog) override;
  int question(const Question& q) override;

  void queueFileName(std::optional<QString> answer);
  // The button index the next question gets; an empty queue answers Escape.
  void queueAnswer(int button);
  std::vector<Question> questions() const;
  std::vector<Message> messages() const;
  std::vector<QString> dialogFilters() const;  // Filter of each dialog asked, in order
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
  std::vector<QString> answers_;  // a null string stands for "cancel"
  std::vector<QString> filters_;
  std::vector<Question> questions_;
  std::vector<int> buttons_;
};

// nullptr restores the real dialogs. The responder must outlive its installation.
void setResponder(Responder* responder);
Responder* responder();

}  // namespace Dialogs
