#pragma once

#include <functional>

#include <QMessageBox>

namespace tw {

// The alert that asks before uninstalling: a destructive "Uninstall" and "Cancel". Closing it any
// other way (Escape, the window's close button) is Cancel. Calls `answered` once.
class UninstallConfirmation final : public QMessageBox {
    Q_OBJECT

public:
    explicit UninstallConfirmation(std::function<void(bool confirmed)> answered, QWidget* parent = nullptr);

    QAbstractButton* uninstallButton() const { return uninstall_; }
    QAbstractButton* cancelButton() const { return cancel_; }
    // Closes the alert without an answer (the content withdrew the question).
    void withdraw();

private:
    QAbstractButton* uninstall_;
    QAbstractButton* cancel_;
    std::function<void(bool)> answered_;
};

}  // namespace tw
