#include "platform/AlignLayout.h"

#include <QEvent>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace AlignLayout {
namespace {

constexpr char kAlignProperty[] = "tembrixAlign";

// Watches one parent and its aligned children and re-aligns the parent when
// either changes size. Owned by the parent (a QObject child of it).
class AlignWatcher : public QObject {
 public:
  explicit AlignWatcher(QWidget* parent) : QObject(parent), parent_(parent) {
    parent->installEventFilter(this);
  }

  void watchChild(QWidget* child) {
    if (watched_.contains(child)) return;
    watched_.append(child);
    child->installEventFilter(this);
    connect(child, &QObject::destroyed, this, [this](QObject* o) { watched_.removeAll(o); });
  }

  void realign(const QWidget* changed);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Resize:
        realign(nullptr);
        break;
      case QEvent::Move:
      case QEvent::ShowToParent:
      case QEvent::HideToParent:
        if (watched != parent_) realign(nullptr);
        break;
      default:
        break;
    }
    return false;
  }

 private:
  QWidget* parent_;
  QList<QObject*> watched_;
  bool busy_ = false;
};

AlignWatcher* watcherOf(QWidget* parent) {
  for (QObject* o : parent->children())
    if (auto* w = dynamic_cast<AlignWatcher*>(o)) return w;
  return nullptr;
}

AlignWatcher* ensureWatcher(QWidget* parent) {
  AlignWatcher* w = watcherOf(parent);
  return w ? w : new AlignWatcher(parent);
}

void AlignWatcher::realign(const QWidget* changed) {
  if (busy_) return;  // moving the children below reports back here
  busy_ = true;

  std::vector<QWidget*> lists[alClient + 1];
  for (QObject* o : parent_->children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (!w || w->isWindow() || w->isHidden()) continue;
    const TAlign a = Align(w);
    if (a != alNone) lists[a].push_back(w);
  }

  // Sorts by `key`, lowest first; the changed control wins ties, then child order.
  auto order = [changed](std::vector<QWidget*>& list, auto key) {
    std::stable_sort(list.begin(), list.end(), [&](const QWidget* a, const QWidget* b) {
      const int ka = key(a), kb = key(b);
      if (ka != kb) return ka < kb;
      return a == changed && b != changed;
    });
  };
  order(lists[alTop], [](const QWidget* w) { return w->y(); });
  order(lists[alBottom], [](const QWidget* w) { return -(w->y() + w->height()); });
  order(lists[alLeft], [](const QWidget* w) { return w->x(); });
  order(lists[alRight], [](const QWidget* w) { return -(w->x() + w->width()); });

  const QRect area = parent_->contentsRect();
  int left = area.x(), top = area.y();
  int right = area.x() + area.width(), bottom = area.y() + area.height();
  auto span = [](int from, int to) { return std::max(0, to - from); };

  for (QWidget* w : lists[alTop]) {
    w->setGeometry(left, top, span(left, right), w->height());
    top += w->height();
  }
  for (QWidget* w : lists[alBottom]) {
    bottom -= w->height();
    w->setGeometry(left, bottom, span(left, right), w->height());
  }
  for (QWidget* w : lists[alLeft]) {
    w->setGeometry(left, top, w->width(), span(top, bottom));
    left += w->width();
  }
  for (QWidget* w : lists[alRight]) {
    right -= w->width();
    w->setGeometry(right, top, w->width(), span(top, bottom));
  }
  for (QWidget* w : lists[alClient]) w->setGeometry(left, top, span(left, right), span(top, bottom));

  // Hidden widgets get their resize events only when shown: carry the change down now.
  for (auto& list : lists)
    for (QWidget* w : list)
      if (AlignWatcher* inner = watcherOf(w)) inner->realign(nullptr);

  busy_ = false;
}

}  // namespace

TAlign Align(const QWidget* control) {
  const QVariant v = control->property(kAlignProperty);
  return v.isValid() ? static_cast<TAlign>(v.toInt()) : alNone;
}

void SetAlign(QWidget* control, TAlign align) {
  if (Align(control) == align) return;
  control->setProperty(kAlignProperty, static_cast<int>(align));
  QWidget* parent = control->parentWidget();
  if (!parent || control->isWindow()) return;
  AlignWatcher* watcher = ensureWatcher(parent);
  watcher->watchChild(control);
  watcher->realign(control);
}

void SetHeight(QWidget* control, int height) {
  control->resize(control->width(), height);
  if (QWidget* parent = control->parentWidget()) Realign(parent, control);
}

void SetWidth(QWidget* control, int width) {
  control->resize(width, control->height());
  if (QWidget* parent = control->parentWidget()) Realign(parent, control);
}

void Realign(QWidget* parent, const QWidget* changed) {
  if (AlignWatcher* watcher = watcherOf(parent)) watcher->realign(changed);
}

}  // namespace AlignLayout
