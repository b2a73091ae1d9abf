// The toolkit's own texts in the program's dialogs are Russian whatever the
// system's locale says: this program runs under LANG=C.UTF-8 and under
// LANG=ru_RU.UTF-8. The dialogs are the real ones, read back from their widgets.
#include "platform/Application.h"
#include "platform/Dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <functional>
#include <ostream>
#include <memory>

// Failures show the texts themselves.
void PrintTo(const QString& s, std::ostream* out) { *out << '"' << s.toStdString() << '"'; }

namespace {

// Runs `inspect` on the modal dialog of type D once it is up, and again a
// little later until it returns true; by then it must have closed the dialog.
template <class D>
void whenShown(std::function<bool(D*)> inspect) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, inspect] {
    if (auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget()); dialog && inspect(dialog)) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(10);
}

QStringList buttonTexts(QWidget* dialog) {
  QStringList texts;
  for (auto* box : dialog->findChildren<QDialogButtonBox*>())
    for (QAbstractButton* b : box->buttons()) texts << b->text();
  return texts;
}

QStringList labelTexts(QWidget* dialog) {
  QStringList texts;
  for (auto* label : dialog->findChildren<QLabel*>())
    if (!label->text().isEmpty()) texts << label->text();
  return texts;
}

TEST(RussianTexts, DefaultLocaleIsRussian) {
  EXPECT_EQ(QLocale().language(), QLocale::Russian);
  EXPECT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
  // Numbers the program writes itself do not follow the locale.
  EXPECT_EQ(QString::number(2.5, 'f', 1), QStringLiteral("2.5"));
}

TEST(RussianTexts, OpenAndSaveDialogsSpeakRussian) {
  struct Expected {
    Dialogs::FileDialogKind kind;
    QString title, accept;
  };
  for (const Expected& e : {Expected{Dialogs::FileDialogKind::Open, QStringLiteral("Открыть"), QStringLiteral("&Открыть")},
                            Expected{Dialogs::FileDialogKind::Save, QStringLiteral("Сохранить как"),
                                     QStringLiteral("&Сохранить")}}) {
    Dialogs::TFileDialog dialog(e.kind);
    dialog.Filter = QStringLiteral("wav|*.wav");
    QString title;
    QStringList labels, buttons;
    whenShown<QFileDialog>([&](QFileDialog* d) {
      title = d->windowTitle();
      labels = labelTexts(d);
      buttons = buttonTexts(d);
      d->reject();
      return true;
    });
    EXPECT_FALSE(dialog.Execute(nullptr));
    EXPECT_EQ(title, e.title);
    EXPECT_EQ(labels, QStringList({QStringLiteral("Перейти к:"), QStringLiteral("&Имя файла:"),
                                   QStringLiteral("Типы файлов:")}));
    EXPECT_EQ(buttons, QStringList({e.accept, QStringLiteral("Отмена")}));
  }
}

TEST(RussianTexts, FileListShowsSizesDatesAndFoldersInRussian) {
  QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tembrix-list-XXXXXX"));
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("записи")));
  QFile file(dir.filePath(QStringLiteral("запись.wav")));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray(2560, '\0'));
  ASSERT_TRUE(file.flush());  // a later write would set the time anew
  ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2024, 3, 5), QTime(14, 7)), QFileDevice::FileModificationTime));
  file.close();

  Dialogs::TFileDialog dialog(Dialogs::FileDialogKind::Open);
  dialog.FileName = file.fileName();  // the dialog opens in its folder
  QString size, date, folderType;
  whenShown<QFileDialog>([&](QFileDialog* d) {
    auto* view = d->findChild<QTreeView*>(QStringLiteral("treeView"));
    if (!view) {
      d->reject();
      return true;
    }
    QModelIndex name, folder;
    for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
      const QModelIndex i = view->model()->index(row, 0, view->rootIndex());
      if (i.data() == QStringLiteral("запись.wav")) name = i;
      if (i.data() == QStringLiteral("записи")) folder = i;
    }
    if (!name.isValid() || !folder.isValid()) return false;  // the folder is still being read
    size = name.siblingAtColumn(1).data().toString();
    date = name.siblingAtColumn(3).data().toString();
    folderType = folder.siblingAtColumn(2).data().toString();
    d->reject();
    return true;
  });
  EXPECT_FALSE(dialog.Execute(nullptr));
  EXPECT_EQ(size, QStringLiteral("2,50 KiB"));
  EXPECT_EQ(date, QStringLiteral("05.03.2024 14:07"));
  EXPECT_EQ(folderType, QStringLiteral("Папка"));
}

TEST(RussianTexts, MessageBoxSpeaksRussian) {
  QStringList buttons;
  QString text, caption;
  whenShown<QMessageBox>([&](QMessageBox* box) {
    text = box->text();
    caption = box->windowTitle();
    buttons = buttonTexts(box);
    box->accept();
    return true;
  });
  Dialogs::ShowMessage(nullptr, QStringLiteral("Файл не существует!"), QStringLiteral("Тембрикс"), Dialogs::Icon::Stop);
  // The program's own texts as they were; the button as the Russian catalog
  // has it (there "OK" stays "OK", while its neighbours are translated).
  EXPECT_EQ(text, QStringLiteral("Файл не существует!"));
  EXPECT_EQ(caption, QStringLiteral("Тембрикс"));
  EXPECT_EQ(buttons, QStringList({QStringLiteral("OK")}));
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
}

TEST(RussianTexts, TextFieldAndScrollBarMenusSpeakRussian) {
  QLineEdit field;
  std::unique_ptr<QMenu> fieldMenu(field.createStandardContextMenu());
  QStringList fieldItems;
  for (QAction* a : fieldMenu->actions())
    if (!a->isSeparator()) fieldItems << a->text().section(u'\t', 0, 0);
  EXPECT_TRUE(fieldItems.contains(QStringLiteral("&Копировать"))) << fieldItems.join(u'|').toStdString();
  EXPECT_TRUE(fieldItems.contains(QStringLiteral("Выделить всё"))) << fieldItems.join(u'|').toStdString();

  // The scroll bar builds its menu when asked and runs it modally.
  QScrollBar bar(Qt::Horizontal);
  bar.resize(200, 20);
  bar.show();
  QStringList barItems;
  QTimer::singleShot(50, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      for (QAction* a : menu->actions())
        if (!a->isSeparator()) barItems << a->text();
      menu->close();
    }
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(100, 10), bar.mapToGlobal(QPoint(100, 10)));
  QCoreApplication::sendEvent(&bar, &event);
  EXPECT_TRUE(barItems.contains(QStringLiteral("Прокрутить сюда")) && barItems.contains(QStringLiteral("К левой границе")))
      << barItems.join(u'|').toStdString();
}

}  // namespace
