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

#include <functional>

using qor::app::QorDialog;

namespace {

// Runs `act` on the modal dialog once exec has shown it.
void whenModal(const std::function<void(QWidget*)>& act)
{
    QTimer::singleShot(0, [act] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        act(dialog);
    });
}

QPushButton* button(QWidget* dialog, const QString& text)
{
    for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

} // namespace

TEST(QorDialog, ButtonsSitRightInOrderAndOnlyCancelRejects)
{
    QorDialog dialog(QStringLiteral("Darstellung"), QStringLiteral("appearance"));
    QPushButton* cancel = dialog.addButton(QStringLiteral("Abbrechen"), false);
    QPushButton* ok = dialog.addButton(QStringLiteral("OK"), true);
    dialog.resize(420, 200);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_LT(cancel->geometry().right(), ok->geometry().left());
    EXPECT_EQ(ok->geometry().right(), dialog.width() - 18 - 1);
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("PanelHeading"))->text(),
              QStringLiteral("Darstellung"));

    QTest::keyClick(&dialog, Qt::Key_Return); // the default button has no action of its own
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    dialog.show();
    dialog.setResult(QDialog::Accepted);
    cancel->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(QorDialog, GetTextReturnsTheTextAlsoWhenCancelled)
{
    bool ok = true;
    whenModal([](QWidget* dialog) {
        auto* edit = dialog->findChild<QLineEdit*>();
        EXPECT_EQ(edit->selectedText(), QStringLiteral("Extrusion 1"));
        QTest::keyClicks(edit, QStringLiteral("Lasche"));
        button(dialog, QStringLiteral("Abbrechen"))->click();
    });
    EXPECT_EQ(QorDialog::getText(nullptr, QStringLiteral("Umbenennen"), QStringLiteral("Name"),
                                 QStringLiteral("Extrusion 1"), &ok),
              QStringLiteral("Lasche"));
    EXPECT_FALSE(ok);

    whenModal([](QWidget* dialog) {
        QTest::keyClicks(dialog->findChild<QLineEdit*>(), QStringLiteral("2,5"));
        QTest::keyClick(dialog->findChild<QLineEdit*>(), Qt::Key_Return);
    });
    EXPECT_EQ(QorDialog::getText(nullptr, QStringLiteral("Radius"), QStringLiteral("Radius"),
                                 QString(), nullptr),
              QStringLiteral("2,5"));
    whenModal([](QWidget* dialog) { button(dialog, QStringLiteral("OK"))->click(); });
    QorDialog::getText(nullptr, QStringLiteral("Radius"), QStringLiteral("Radius"),
                       QStringLiteral("1"), &ok);
    EXPECT_TRUE(ok);
}

TEST(QorDialog, RendersTheFrame)
{
    QorDialog dialog(QStringLiteral("Körper umbenennen"), QStringLiteral("edit"));
    auto* form = new QFormLayout(dialog.body());
    form->addRow(QStringLiteral("Name"), new QLineEdit(QStringLiteral("Grundplatte")));
    form->addRow(QStringLiteral("Werkstoff"), new QLabel(QStringLiteral("Aluminium · 2,70 g/cm³")));
    dialog.addButton(QStringLiteral("Abbrechen"), false);
    dialog.addButton(QStringLiteral("Übernehmen"), true);
    dialog.resize(420, 210);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_TRUE(qor::test::saveShot(dialog, QStringLiteral("dialog.png")));
}
