// How the widgets are wired to the observable objects.
//
// Model → widget: every update of a widget from the model runs under a QSignalBlocker (showing()),
// so a widget's own signals come only from the user and no value is written back while it is being
// shown. Widget → model: through the property's setter, which emits the change that updates the
// widgets.
//
// A deferred reaction is the "a change of X runs Y" of a view: Y runs after the change that caused
// it (a queued connection), and only when X differs from the value it saw last.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QSignalBlocker>

#include <functional>
#include <type_traits>
#include <utility>

namespace lumenfield {

// Runs `update` with the signals of `widget` blocked.
template <typename Update> void showing(QObject* widget, Update&& update)
{
    const QSignalBlocker blocker(widget);
    std::forward<Update>(update)();
}

// The getter, setter and change signal of one property of an observable object.
template <typename T> struct PropertyBinding {
    std::function<T()> get;
    std::function<void(const T&)> set;
    // Connects the property's change signal to `onChange`, for as long as `context` lives.
    std::function<QMetaObject::Connection(const QObject* context, std::function<void()> onChange)> observe;
};

// bindProperty(settings, &ImageSettings::exposure, &ImageSettings::setExposure,
//              &ImageSettings::exposureChanged)
template <typename Object, typename Getter, typename Setter, typename Signal>
auto bindProperty(Object& object, Getter getter, Setter setter, Signal signal)
{
    using T = std::decay_t<std::invoke_result_t<Getter, const Object&>>;
    Object* target = &object;
    return PropertyBinding<T>{[target, getter] { return std::invoke(getter, *target); },
                              [target, setter](const T& value) { std::invoke(setter, *target, value); },
                              [target, signal](const QObject* context, std::function<void()> onChange) {
                                  return QObject::connect(target, signal, context,
                                                          [onChange = std::move(onChange)] { onChange(); });
                              }};
}

// Runs `act` after a change of a value, once the change that caused it has finished, and only when
// the value differs from the one seen last. Owned by the widget given as `context`, which must
// outlive it; queued runs die with the context.
template <typename T> class DeferredReaction {
public:
    DeferredReaction(QObject* context, std::function<T()> current, std::function<void(const T&)> act)
        : context_(context), current_(std::move(current)), act_(std::move(act)), last_(current_())
    {}
    DeferredReaction(const DeferredReaction&) = delete;
    DeferredReaction& operator=(const DeferredReaction&) = delete;

    // Runs the reaction after each emission of `signal` of `sender`.
    template <typename Sender, typename Signal> void follow(Sender* sender, Signal signal)
    {
        QObject::connect(
            sender, signal, context_, [this] { run(); }, Qt::QueuedConnection);
    }
    // Takes the current value as seen, without acting.
    void resync() { last_ = current_(); }
    // Acts when the value has changed since it was last seen.
    void run()
    {
        T now = current_();
        if (now == last_) return;
        last_ = now;
        act_(now);
    }

private:
    QObject* context_;
    std::function<T()> current_;
    std::function<void(const T&)> act_;
    T last_;
};

} // namespace lumenfield
