#include "panels/dialogs/QorDialog.h"

#include "ShellDocument.h"

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using qor::app::QorDialog;

namespace {

// Types into the modal dialog once exec shows it, then presses the key or clicks the button.
void answer(const QString& typed, const QString& buttonText, Qt::Key key = Qt::Key_unknown)
{
    QTimer::singleShot(0, [=] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        auto* edit = dialog->findChild<QLineEdit*>();
        QTest::keyClicks(edit, typed); // replaces the selected text
        for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
            if (b->text() == buttonText)
                b->click();
        }
        if (key != Qt::Key_unknown)
            QTest::keyClick(edit, key);
    });
}

} // namespace

TEST(QorDialog, ButtonsSitRightInOrderAndOnlyCancelRejects)
{
    QorDialog dialog(QStringLiteral("Körper umbenennen"), QStringLiteral("edit"));
    auto* form = new QFormLayout(dialog.body());
    form->addRow(QStringLiteral("Name"), new QLineEdit(QStringLiteral("Grundplatte")));
    form->addRow(QStringLiteral("Werkstoff"), new QLabel(QStringLiteral("Aluminium · 2,70 g/cm³")));
    QPushButton* cancel = dialog.addButton(QStringLiteral("Abbrechen"), false);
    QPushButton* ok = dialog.addButton(QStringLiteral("Übernehmen"), true);
    dialog.resize(420, 210);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_TRUE(qor::test::saveShot(dialog, QStringLiteral("dialog.png")));
    EXPECT_LT(cancel->geometry().right(), ok->geometry().left());
    EXPECT_EQ(ok->geometry().right(), dialog.width() - 18 - 1);

    QTest::keyClick(&dialog, Qt::Key_Return); // the default button has no action of its own
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    dialog.setResult(QDialog::Accepted);
    cancel->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(QorDialog, GetTextReturnsTheTextAlsoWhenCancelled)
{
    const auto ask = [](bool* ok) {
        return QorDialog::getText(nullptr, QStringLiteral("Umbenennen"), QStringLiteral("Name"),
                                  QStringLiteral("Extrusion 1"), ok);
    };
    bool ok = true;
    answer(QStringLiteral("Lasche"), QStringLiteral("Abbrechen"));
    EXPECT_EQ(ask(&ok), QStringLiteral("Lasche"));
    EXPECT_FALSE(ok);
    answer(QStringLiteral("Steg"), QString(), Qt::Key_Return);
    EXPECT_EQ(ask(nullptr), QStringLiteral("Steg"));
    answer(QString(), QStringLiteral("OK"));
    EXPECT_EQ(ask(&ok), QStringLiteral("Extrusion 1"));
    EXPECT_TRUE(ok);
}
