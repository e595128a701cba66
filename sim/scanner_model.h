// The simulated scanner: the device side of the scanner's USB protocol.
//
// OUT transfers on 0x02 drive a framing state machine. In Idle an 8-byte transfer is a request
// header ("VEKR", "VEKW", "VEKC" with byte 4 zero and a 24-bit length L) or a job frame (anything
// else). A read or control request then takes a 16-byte block; a write takes exactly L bytes (block
// and payload) in one transfer; "PAR" takes 40 bytes. The reply is then pending and IN transfers on
// 0x81 deliver it: an 8-byte header ("STA\0", 'A' or 'E', 0, 0, the job id) followed, for a read,
// by the payload to exactly L bytes; bare data for "INFO" and "IMG". A halt clear drops a
// half-received transaction and any pending reply; releasing the interface also drops the job.
//
// Requests are answered from the command catalogue (scanner_commands.cpp) over ScannerRecords.
// Job frames run the job state machine and call the ScanEngine hooks. Every transaction is
// recorded (scanner_transcript.h); protocol breaches by the driver are also listed as violations,
// which every test that injects nothing expects to be empty.
//
// Public methods take the device lock; callbacks run with it held (device_model.h).
#pragma once

#include "device_model.h"
#include "scan_engine.h"
#include "scanner_records.h"
#include "scanner_transcript.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

class ChartScanEngine;

// Sense conventions of the simulated device (key 5, illegal request).
namespace sense {
constexpr Sense kWrongLength{5, 0x1A};
constexpr Sense kUnknownCommand{5, 0x20};
constexpr Sense kInvalidParameter{5, 0x24};
constexpr Sense kBadChecksum{5, 0x26};
constexpr Sense kOutOfSequence{5, 0x2C};
} // namespace sense

// When the device counts its calibration as valid (system status byte 11, bit 4).
enum class CalibrationPolicy {
    Always,
    Never,
    // The latest calibration-parameter transfer and the latest front shading at both levels carry
    // the same value, and both levels have the same non-zero size.
    AfterUpload,
};

class ScannerModel : public DeviceModel {
public:
    // The "default" profile (scanner_profiles.h).
    ScannerModel();
    explicit ScannerModel(ScannerRecords records);
    ~ScannerModel() override;

    // Records and stores.
    ScannerRecords records() const;
    void edit(const std::function<void(ScannerRecords&)>& change);
    // Replaces every record and store with the profile's; false for an unknown name.
    bool use_profile(const std::string& name);
    void set_calibration_policy(CalibrationPolicy policy);
    bool calibration_valid() const;
    // Negative controls for calibration checks: forget every received shading, or swap the two
    // levels (dark and white) of what was received.
    void clear_shading();
    void swap_shading_levels();
    // When set, a shading send of kind 3 must carry exactly 2 × bytes_per_side bytes; another size
    // is refused (5/0x1A) and listed as a violation. Off by default.
    void set_strict_shading(std::optional<uint32_t> bytes_per_side);

    // Device state.
    bool job_open() const;
    Sense sense() const; // key and code of the last refusal, until "SENS" reports them
    std::optional<std::array<uint8_t, kWindowSize>> window() const;
    std::optional<std::array<uint8_t, kParametersSize>> parameters() const;

    // Transcript.
    std::vector<Transaction> transactions() const;
    std::vector<std::string> violations() const;
    uint64_t next_transaction() const; // the number the next transaction will get
    void clear_transcript();           // numbering goes on

    // Faults, each used once.
    void inject(Injection injection);
    // A device that stopped answering (an injected silence): whether it is silent, and its return,
    // which drops the exchange it was in (the job stays open). While silent it takes every OUT
    // transfer and leaves every IN transfer waiting.
    bool silent() const;
    void wake();

    // The scan engine; the default (and null) is a ChartScanEngine.
    void set_engine(std::unique_ptr<ScanEngine> engine);
    // A fixed "INFO" reply and image bytes queued per side (0 front, 1 back), served by a
    // FedScanEngine, which replaces any other engine first.
    void set_info(const std::array<uint8_t, kInfoSize>& info);
    void feed_image(int side, std::span<const uint8_t> bytes);
    // Runs `f` on the engine under the device lock.
    void with_engine(const std::function<void(ScanEngine&)>& f);
    // Runs `f` on the chart engine under the device lock, replacing any other engine first.
    void with_chart_engine(const std::function<void(ChartScanEngine&)>& f);

    // DeviceModel
    int out(uint8_t endpoint, std::span<const uint8_t> data) override;
    int in(uint8_t endpoint, std::span<uint8_t> buffer) override;
    void release(int interface) override;
    void clear_halt(uint8_t endpoint) override;
    void reset() override;
    void discarded(uint8_t endpoint) override;

    // A request as the command handlers see it.
    struct Request {
        Transaction& tx;
        std::span<const uint8_t> block;   // 16 bytes
        std::span<const uint8_t> payload; // a write's payload
        std::vector<uint8_t> reply;       // a read's payload (cut or zero-padded to L - 8)
    };
    using Handler = Sense (ScannerModel::*)(Request&);

private:
    enum class Framing {
        Idle,
        ReadBlock,
        ControlBlock,
        WriteData,
        ParData
    };
    struct Pending {
        enum class Kind {
            None,
            Bytes,
            Image,
            Stall,
            Silent
        } kind = Kind::None;
        std::vector<uint8_t> head = {}; // Bytes: the first bytes; zeros follow up to total
        uint64_t total = 0;
        uint64_t sent = 0;
        int side = 0; // Image
        uint64_t transaction = 0;
        std::vector<std::pair<size_t, uint8_t>> xors = {}; // Image: injected corruption
    };
    struct Armed {
        Injection injection;
        int seen = 0;
        uint64_t bound = 0; // the transaction it hits, once known
        bool used = false;
    };

    // Framing.
    int begin(std::span<const uint8_t> header);
    int take_block(std::span<const uint8_t> data);
    int take_write(std::span<const uint8_t> data);
    int take_parameters(std::span<const uint8_t> data);
    void drop_exchange();
    void drop_job();

    // Requests (scanner_commands.cpp): the catalogue names each command's transaction kind, block
    // form, tag, code, payload size and handler.
    struct CommandEntry;
    static std::span<const CommandEntry> catalogue();
    // Names the command of a block: fills the transaction's tag, code and decoded parameters.
    const CommandEntry* identify_command(std::span<const uint8_t> block);
    void dispatch(const CommandEntry* entry, std::span<const uint8_t> block, std::span<const uint8_t> payload);
    Sense wrong_length(uint64_t expected);
    Sense read_inquiry(Request& r);
    Sense read_media(Request& r);
    Sense read_resolution(Request& r);
    Sense read_attributes(Request& r);
    Sense read_system_status(Request& r);
    Sense send_system_status(Request& r);
    Sense set_window(Request& r);
    Sense read_image_information(Request& r);
    Sense read_calibration(Request& r);
    Sense send_calibration(Request& r);
    Sense send_host_fixture(Request& r);
    Sense read_eeprom(Request& r);
    Sense send_eeprom(Request& r);
    Sense read_shading(Request& r);
    Sense send_shading(Request& r);
    Sense send_gamma(Request& r);
    Sense send_isp_a(Request& r);
    Sense send_isp_b(Request& r);
    Sense read_flash_config(Request& r);
    Sense send_flash_config(Request& r);
    Sense read_flash_user(Request& r);
    Sense send_flash_user(Request& r);
    Sense read_xsmc(Request& r);
    Sense read_crrg(Request& r);
    Sense read_calibration_action(Request& r);
    Sense send_calibration_action(Request& r);
    Sense read_sense(Request& r);
    Sense motor(Request& r);

    // Job frames.
    void job_frame(std::span<const uint8_t> frame, std::span<const uint8_t> parameters);
    void job_reply(Sense refusal, uint8_t id);
    void out_of_sequence();
    void info_reply(bool served);
    void image_reply(uint32_t count, int side);

    // Replies, faults and the transcript.
    Transaction& current() { return transactions_.back(); }
    uint8_t job_byte() const { return job_open_ ? 1 : 0; }
    void request_reply(Sense refusal, const std::vector<uint8_t>& payload, uint64_t total);
    void queue(Pending pending);
    void refuse(Sense refusal);
    void violation(const std::string& what);
    // Binds injections aimed at this tag (or at the current transaction's number).
    void identify(const std::string& tag);
    // An unused injection of this action bound to the transaction, now used; or null.
    Armed* fault(uint64_t transaction, Injection::Action action, std::optional<Phase> phase = std::nullopt);
    // An injected stall or disconnect of this phase of the current transaction: the OUT result.
    std::optional<int> transport_fault(Phase phase, size_t size);
    void mark_broken(uint64_t transaction);

    bool calibration_valid_locked() const;
    FedScanEngine& fed_engine();

    ScannerRecords records_;
    CalibrationPolicy calibration_policy_ = CalibrationPolicy::AfterUpload;
    std::optional<uint32_t> strict_shading_;
    std::unique_ptr<ScanEngine> engine_;
    Framing framing_ = Framing::Idle;
    std::array<uint8_t, 8> header_{};
    uint32_t length_ = 0;
    Pending pending_;
    bool job_open_ = false;
    bool silent_ = false;
    std::optional<std::array<uint8_t, kWindowSize>> window_;
    std::optional<std::array<uint8_t, kParametersSize>> parameters_;
    Sense sense_;
    std::vector<Transaction> transactions_;
    std::vector<std::string> violations_;
    uint64_t numbered_ = 0;
    std::vector<Armed> injections_;
};

} // namespace sim
