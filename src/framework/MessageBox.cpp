#include "framework/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

namespace fw {

void PostMessageBox(const std::string& text, std::u16string_view caption)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return;
    const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const QString title = QString::fromUtf16(caption.data(), static_cast<qsizetype>(caption.size()));
    QTimer::singleShot(0, qApp, [message, title] {
        QWidget* owner = QApplication::activeModalWidget();
        if (owner == nullptr)
            owner = QApplication::activeWindow();
        auto* box = new QMessageBox(QMessageBox::Warning, title, message, QMessageBox::Ok, owner);
        box->setAttribute(Qt::WA_DeleteOnClose);
        // Window-modal over the sheet, without a nested event loop: the sheet's timers go on.
        box->open();
    });
}

} // namespace fw
