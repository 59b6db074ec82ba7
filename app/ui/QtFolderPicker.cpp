#include "app/ui/QtFolderPicker.h"

#include <memory>

#include <QFileDialog>

namespace tw {

void QtFolderPicker::chooseFolder(const std::string& title, const std::string& prompt,
                                  std::function<void(std::optional<std::string>)> completion) {
    auto* dialog = new QFileDialog(nullptr, QString::fromStdString(title));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, QString::fromStdString(prompt));
    dialog->setWindowModality(Qt::NonModal);
    auto done = std::make_shared<std::function<void(std::optional<std::string>)>>(std::move(completion));
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done](int result) {
        const QStringList chosen = dialog->selectedFiles();
        std::optional<std::string> folder;
        if (result == QDialog::Accepted && !chosen.isEmpty()) folder = chosen.front().toStdString();
        if (auto call = std::exchange(*done, nullptr)) call(std::move(folder));
    });
    dialog->show();
}

}  // namespace tw
