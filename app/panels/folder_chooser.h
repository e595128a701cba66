// How the output panel asks the user for a folder. The panel takes the chooser as an interface, so
// that it can be driven without a dialog.
#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace lumenfield {

class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    // The folder the user chose (the empty text when the choice named none), or nothing when the
    // user cancelled. The choice starts at `current`, the folder in use. The folder chosen is
    // neither examined nor created.
    virtual std::optional<QString> chooseFolder(QWidget* parent, const QString& current) = 0;
};

// A modal folder dialog: folders only, no title.
class DialogFolderChooser : public FolderChooser {
public:
    std::optional<QString> chooseFolder(QWidget* parent, const QString& current) override;
};

// Where the dialog opens for the folder `current`: the folder itself, or when it is gone the
// nearest folder above it that exists; the home folder when nothing of it exists.
QString folderDialogStart(const QString& current);

} // namespace lumenfield
