#pragma once

#include <QAccessibleApplication>

namespace tw {

// The application as assistive technology sees it, with its visible popups (the panel and its
// popovers) among its children: Qt leaves popups out, which would hide the whole panel from a
// screen reader.
class ApplicationAccessible final : public QAccessibleApplication {
public:
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;

    // Makes Qt use this interface for the application object.
    static void install();

private:
    QList<QAccessibleInterface*> popups() const;
};

}  // namespace tw
