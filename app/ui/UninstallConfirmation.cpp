#include "app/ui/UninstallConfirmation.h"

#include <QPushButton>

namespace tw {

UninstallConfirmation::UninstallConfirmation(std::function<void(bool)> answered, QWidget* parent)
    : QMessageBox(parent), answered_(std::move(answered)) {
    setWindowTitle(QStringLiteral("Uninstall Tarnwick"));
    setText(QStringLiteral("Uninstall Tarnwick"));
    setInformativeText(QStringLiteral(
        "This will remove all credentials, VPN settings, and logs. Administrator password is required."));
    setIcon(QMessageBox::Warning);
    auto* uninstall = addButton(QStringLiteral("Uninstall"), QMessageBox::DestructiveRole);
    cancel_ = addButton(QMessageBox::Cancel);
    uninstall_ = uninstall;
    // Destructive actions are red, as the platform's destructive buttons are elsewhere; a lighter
    // red on a dark button.
    QPalette palette = uninstall->palette();
    const bool darkButton = palette.color(QPalette::Button).lightness() < 128;
    palette.setColor(QPalette::ButtonText, darkButton ? QColor(255, 120, 110) : QColor(215, 0, 21));
    uninstall->setPalette(palette);
    // The message reads better on two lines than on four.
    setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 320px; }"));
    setDefaultButton(qobject_cast<QPushButton*>(cancel_));
    setEscapeButton(cancel_);
    setWindowModality(Qt::NonModal);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(this, &QMessageBox::finished, this, [this] {
        if (auto answer = std::exchange(answered_, nullptr)) answer(clickedButton() == uninstall_);
    });
}

void UninstallConfirmation::withdraw() {
    answered_ = nullptr;
    close();
}

}  // namespace tw
