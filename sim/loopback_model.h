// A device model for exercising the USB layer: bulk OUT data are accepted (and, in echo mode,
// become the next reply); IN URBs are answered from a queue of actions that the test fills. With
// nothing queued an IN URB stays pending. Every public method takes the device lock.
#pragma once

#include "device_model.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

namespace sim {

class LoopbackModel : public DeviceModel {
public:
    explicit LoopbackModel(bool echo = false) : echo_(echo) {}

    // IN actions, per IN endpoint (0x81 bulk, 0x83 interrupt), applied in order.
    void reply(std::vector<uint8_t> bytes, uint8_t endpoint = 0x81);
    void reply_short(size_t n, uint8_t endpoint = 0x81); // only n bytes of the next reply
    void reply_zero_length(uint8_t endpoint = 0x81);
    void reply_stall(uint8_t endpoint = 0x81);
    void reply_none(uint8_t endpoint = 0x81);                                  // pending until the client gives up
    void reply_late(std::chrono::milliseconds delay, uint8_t endpoint = 0x81); // next reply after delay
    void disconnect_after(size_t n, uint8_t endpoint = 0x81);                  // n more IN bytes, then gone

    // OUT actions, applied to the next OUT URBs in order; with none queued, OUT data are accepted.
    void out_accept();
    void out_stall();
    void out_disconnect();

    void set_echo(bool echo);
    void refuse_claim(bool refuse);             // claims answer EBUSY
    void refuse_set_configuration(bool refuse); // SET_CONFIGURATION is refused

    // State, for tests.
    std::vector<uint8_t> received() const; // every OUT byte accepted so far
    size_t queued(uint8_t endpoint = 0x81) const;
    int resets() const;

    // DeviceModel
    int out(uint8_t endpoint, std::span<const uint8_t> data) override;
    int in(uint8_t endpoint, std::span<uint8_t> buffer) override;
    int control(const ControlSetup& setup, std::span<uint8_t> data) override;
    int claim(int interface) override;
    int set_configuration(int value) override;
    void reset() override;
    void discarded(uint8_t endpoint) override;

private:
    enum class InKind {
        Data,
        Short,
        ZeroLength,
        Stall,
        NoAnswer,
        Late,
        DisconnectAfter
    };
    struct InAction {
        InKind kind = InKind::Data;
        std::vector<uint8_t> bytes = {}; // Data: what is left of the reply
        size_t offset = 0;
        size_t n = 0; // Short, DisconnectAfter
        std::chrono::milliseconds delay{0};
        std::chrono::steady_clock::time_point due{}; // Late: set when first offered
        bool armed = false;
    };
    enum class OutKind {
        Accept,
        Stall,
        Disconnect
    };

    void push(uint8_t endpoint, InAction action);
    int take_data(std::deque<InAction>& queue, std::span<uint8_t> buffer, size_t limit);

    bool echo_;
    bool refuse_claim_ = false;
    bool refuse_set_configuration_ = false;
    int resets_ = 0;
    std::map<uint8_t, std::deque<InAction>> in_;
    std::deque<OutKind> out_;
    std::vector<uint8_t> received_;
    // Active "disconnect after n bytes" budgets per endpoint.
    std::map<uint8_t, size_t> budget_;
};

} // namespace sim
