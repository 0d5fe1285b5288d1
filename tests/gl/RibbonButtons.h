#pragma once

#include "app/shell/Ribbon.h"

#include <QAction>
#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <QToolButton>

namespace qor::test {

// The shown command button of the ribbon with that text, or null.
inline QToolButton* buttonOf(app::Ribbon& ribbon, const QString& command)
{
    for (QToolButton* button : ribbon.findChildren<QToolButton*>(QStringLiteral("RibbonButton"))) {
        if (button->defaultAction() && button->defaultAction()->text() == command
            && button->isVisibleTo(&ribbon))
            return button;
    }
    return nullptr;
}

// Closes whatever a click opened, a dialog or a menu, and counts it.
class OpenedWindows {
public:
    OpenedWindows()
    {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* opened :
                 {QApplication::activeModalWidget(), QApplication::activePopupWidget()}) {
                if (opened != nullptr) {
                    names_ << opened->metaObject()->className();
                    opened->close();
                }
            }
        });
        timer_.start();
    }
    QStringList names() const { return names_; }

private:
    QTimer timer_;
    QStringList names_;
};

} // namespace qor::test
