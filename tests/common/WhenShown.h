#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace qor::test {

// Runs `answer` on the next visible top-level dialog of type T once it is shown; `seen` tells
// afterwards whether one came up. Watching ends with the answer, or when the context (if
// given) goes away.
template <typename T>
std::shared_ptr<bool> whenShown(std::function<void(T*)> answer, QObject* context = nullptr)
{
    auto seen = std::make_shared<bool>(false);
    auto* poll = new QTimer(context);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer, seen] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<T*>(widget);
            if (dialog == nullptr || !dialog->isVisible())
                continue;
            *seen = true;
            poll->deleteLater();
            answer(dialog);
            return;
        }
    });
    poll->start(50);
    return seen;
}

// Answers yes whenever a file dialog, or the window after it, asks whether to replace what is
// already there, as long as the context lives.
inline void confirmReplacing(QObject* context)
{
    auto* poll = new QTimer(context);
    QObject::connect(poll, &QTimer::timeout, poll, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* question = qobject_cast<QMessageBox*>(widget);
            if (question != nullptr && question->isVisible()
                && (qobject_cast<QFileDialog*>(question->parentWidget()) != nullptr
                    || question->text().endsWith(QStringLiteral("Soll sie überschrieben werden?"))))
                question->button(QMessageBox::Yes)->click();
        }
    });
    poll->start(50);
}

// While it lives, answers every message box that shows: a question (it has a Yes button) with
// yes, counted; any other box is accepted and its text kept.
class AnsweredBoxes {
public:
    AnsweredBoxes()
    {
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box == nullptr || !box->isVisible())
                    continue;
                if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
                    ++questions;
                    yes->click();
                } else {
                    texts << box->text();
                    box->accept();
                }
            }
        });
        poll_.start(50);
    }

    int questions = 0;
    QStringList texts; // of the boxes that asked nothing

private:
    QTimer poll_;
};

} // namespace qor::test
