// SIGTERM and SIGINT as a normal quit: the handler only writes a byte to a pipe, and the GUI thread,
// woken by the pipe, asks the application to quit, so the program closes its windows and stores its
// settings as when the user closes them.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace lumenfield {

class QuitOnSignals : public QObject {
    Q_OBJECT

public:
    // Installs the handlers; one object at a time. Without a pipe the signals keep their defaults.
    explicit QuitOnSignals(QObject* parent = nullptr);
    // Restores the default handlers.
    ~QuitOnSignals() override;

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace lumenfield
