// How the output panel asks the user for a folder. The panel takes the chooser as an interface, so
// that it can be driven without a dialog.
#pragma once

#include <QString>

#include <optional>

class QWidget;

class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    // The folder the user chose (the empty text when the choice named none), or nothing when the
    // user cancelled. The folder is neither examined nor created.
    virtual std::optional<QString> chooseFolder(QWidget* parent) = 0;
};

// A modal folder dialog: folders only, no starting folder, no title.
class DialogFolderChooser : public FolderChooser {
public:
    std::optional<QString> chooseFolder(QWidget* parent) override;
};
