#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QTimer>
#include <string>
#include <vector>

namespace ostrel::test {

// Closes every modal window that opens while it lives, as an operator clicking OK or the
// close button would, and records what each one was.
class ModalCloser : public QObject {
public:
    struct Seen {
        std::string className;
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int buttons = 0;
    };

    ModalCloser() {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { closeModal(); });
        m_timer.start();
    }

    std::vector<Seen> seen;

private:
    void closeModal() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        Seen entry;
        entry.className = modal->metaObject()->className();
        entry.title = modal->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            entry.text = box->text();
            entry.icon = box->icon();
            entry.buttons = static_cast<int>(box->buttons().size());
            seen.push_back(entry);
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->close();
            return;
        }
        seen.push_back(entry);
        modal->close();
    }

    QTimer m_timer;
};

} // namespace ostrel::test
