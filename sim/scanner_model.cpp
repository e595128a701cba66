// The simulated scanner's framing, job state machine, replies, faults and transcript.
#include "scanner_model.h"

#include "bytes.h"
#include "chart_scan_engine.h"
#include "scanner_profiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {

namespace {

constexpr uint8_t kBulkOut = 0x02;
constexpr uint8_t kBulkIn = 0x81;
constexpr size_t kHeaderSize = 8;
constexpr size_t kBlockSize = 16;
constexpr uint8_t kJobId = 1; // every job the device opens has id 1

std::string number_text(uint64_t n)
{
    return "#" + std::to_string(n);
}

} // namespace

ScannerModel::ScannerModel() : ScannerModel(*scanner_profile("default")) {}

ScannerModel::ScannerModel(ScannerRecords records)
    : records_(std::move(records)), engine_(std::make_unique<ChartScanEngine>())
{}

ScannerModel::~ScannerModel() = default;

ScannerRecords ScannerModel::records() const
{
    auto lock = const_cast<ScannerModel*>(this)->guard();
    return records_;
}

void ScannerModel::edit(const std::function<void(ScannerRecords&)>& change)
{
    auto lock = guard();
    change(records_);
}

bool ScannerModel::use_profile(const std::string& name)
{
    std::optional<ScannerRecords> records = scanner_profile(name);
    if (!records) return false;
    auto lock = guard();
    records_ = std::move(*records);
    return true;
}

void ScannerModel::set_calibration_policy(CalibrationPolicy policy)
{
    auto lock = guard();
    calibration_policy_ = policy;
}

bool ScannerModel::calibration_valid() const
{
    auto lock = const_cast<ScannerModel*>(this)->guard();
    return calibration_valid_locked();
}

bool ScannerModel::calibration_valid_locked() const
{
    switch (calibration_policy_) {
    case CalibrationPolicy::Always: return true;
    case CalibrationPolicy::Never: return false;
    case CalibrationPolicy::AfterUpload: break;
    }
    const auto& value = records_.last_calibration_value;
    const ShadingUpload& white = records_.front_shading[0];
    const ShadingUpload& dark = records_.front_shading[1];
    return value && !white.data.empty() && white.data.size() == dark.data.size() && white.value == *value &&
        dark.value == *value;
}

void ScannerModel::clear_shading()
{
    auto lock = guard();
    records_.shading.clear();
    records_.front_shading = {};
    records_.back_shading = {};
}

void ScannerModel::swap_shading_levels()
{
    auto lock = guard();
    for (auto& [key, upload] : records_.shading) {
        if (key.second != 0) continue;
        const auto dark = records_.shading.find({key.first, 1});
        if (dark != records_.shading.end()) std::swap(upload, dark->second);
    }
    std::swap(records_.front_shading[0], records_.front_shading[1]);
    std::swap(records_.back_shading[0], records_.back_shading[1]);
}

void ScannerModel::set_strict_shading(std::optional<uint32_t> bytes_per_side)
{
    auto lock = guard();
    strict_shading_ = bytes_per_side;
}

bool ScannerModel::job_open() const
{
    auto lock = const_cast<ScannerModel*>(this)->guard();
    return job_open_;
}

Sense ScannerModel::sense() const
{
    auto lock = const_cast<ScannerModel*>(this)->guard();
    return sense_;
}

std::optional<std::array<uint8_t, kWindowSize>> ScannerModel::window() const
{
    auto lock = const_cast<ScannerModel*>(this)->guard();
    return window_;
}

std::optional<std::array<uint8_t, kParametersSize>> ScannerModel::parameters() const
{
    auto lock = const_cast<ScannerModel*>(this)->guard();
    return parameters_;
}

std::vector<Transaction> ScannerModel::transactions() const
{
    auto lock = const_cast<ScannerModel*>(this)->guard();
    return transactions_;
}

std::vector<std::string> ScannerModel::violations() const
{
    auto lock = const_cast<ScannerModel*>(this)->guard();
    return violations_;
}

uint64_t ScannerModel::next_transaction() const
{
    auto lock = const_cast<ScannerModel*>(this)->guard();
    return numbered_ + 1;
}

void ScannerModel::clear_transcript()
{
    auto lock = guard();
    // A transaction still in progress keeps its entry.
    const bool open = !transactions_.empty() && (framing_ != Framing::Idle || pending_.kind != Pending::Kind::None);
    if (open) {
        transactions_.erase(transactions_.begin(), transactions_.end() - 1);
    } else {
        transactions_.clear();
    }
    violations_.clear();
}

void ScannerModel::inject(Injection injection)
{
    auto lock = guard();
    injections_.push_back({.injection = std::move(injection)});
}

void ScannerModel::set_engine(std::unique_ptr<ScanEngine> engine)
{
    auto lock = guard();
    engine_ = engine ? std::move(engine) : std::make_unique<ChartScanEngine>();
}

FedScanEngine& ScannerModel::fed_engine()
{
    if (dynamic_cast<FedScanEngine*>(engine_.get()) == nullptr) engine_ = std::make_unique<FedScanEngine>();
    return static_cast<FedScanEngine&>(*engine_);
}

void ScannerModel::set_info(const std::array<uint8_t, kInfoSize>& info)
{
    auto lock = guard();
    fed_engine().set_info(info);
}

void ScannerModel::feed_image(int side, std::span<const uint8_t> bytes)
{
    auto lock = guard();
    fed_engine().feed(side, bytes);
}

void ScannerModel::with_chart_engine(const std::function<void(ChartScanEngine&)>& f)
{
    auto lock = guard();
    if (dynamic_cast<ChartScanEngine*>(engine_.get()) == nullptr) engine_ = std::make_unique<ChartScanEngine>();
    f(static_cast<ChartScanEngine&>(*engine_));
}

void ScannerModel::with_engine(const std::function<void(ScanEngine&)>& f)
{
    auto lock = guard();
    f(*engine_);
}

// ---- Framing ----

int ScannerModel::out(uint8_t endpoint, std::span<const uint8_t> data)
{
    const int all = static_cast<int>(data.size());
    if (endpoint != kBulkOut || silent_) return all;
    switch (framing_) {
    case Framing::Idle: return begin(data);
    case Framing::ReadBlock:
    case Framing::ControlBlock: return take_block(data);
    case Framing::WriteData: return take_write(data);
    case Framing::ParData: return take_parameters(data);
    }
    return all;
}

int ScannerModel::begin(std::span<const uint8_t> header)
{
    const int all = static_cast<int>(header.size());
    if (pending_.kind != Pending::Kind::None) {
        violation("a header arrived while the reply was still pending");
        pending_ = {};
    }
    if (header.size() != kHeaderSize) {
        violations_.push_back("an OUT transfer of " + std::to_string(header.size()) +
                              " bytes where a header or job frame was expected");
        return all;
    }
    Transaction tx;
    tx.number = ++numbered_;
    tx.job_id = job_byte();
    tx.header.assign(header.begin(), header.end());
    std::copy(header.begin(), header.end(), header_.begin());
    const std::string tag = tag_text(header.data());
    const bool request = tag == "VEKR" || tag == "VEKW" || tag == "VEKC";
    if (request) {
        tx.kind = tag == "VEKR" ? TxKind::Read : tag == "VEKW" ? TxKind::Write : TxKind::Control;
        tx.length = length_ = le24(header.data() + 5);
    } else {
        tx.kind = TxKind::Job;
        tx.tag = tag;
        tx.code = header[4];
    }
    transactions_.push_back(std::move(tx));
    identify(tag);
    if (auto r = transport_fault(Phase::Header, header.size())) return *r;

    if (request) {
        if (header[4] != 0) violation("request header byte 4 is not 0");
        framing_ = current().kind == TxKind::Read ? Framing::ReadBlock
            : current().kind == TxKind::Write     ? Framing::WriteData
                                                  : Framing::ControlBlock;
    } else if (tag == "PAR") {
        framing_ = Framing::ParData;
    } else {
        job_frame(header, {});
    }
    return all;
}

int ScannerModel::take_block(std::span<const uint8_t> data)
{
    const int all = static_cast<int>(data.size());
    framing_ = Framing::Idle;
    if (data.size() != kBlockSize) {
        violation("a command block of " + std::to_string(data.size()) + " bytes");
        return all;
    }
    current().block.assign(data.begin(), data.end());
    const CommandEntry* entry = identify_command(data);
    if (auto r = transport_fault(Phase::Data, data.size())) return *r;
    dispatch(entry, data, {});
    return all;
}

int ScannerModel::take_write(std::span<const uint8_t> data)
{
    const int all = static_cast<int>(data.size());
    framing_ = Framing::Idle;
    if (data.size() != length_) {
        violation("write data of " + std::to_string(data.size()) + " bytes after a header announcing " +
                  std::to_string(length_));
        return all;
    }
    // A length below 16 cannot hold the whole block; the model still takes what was announced.
    std::array<uint8_t, kBlockSize> block{};
    const size_t in_block = std::min(data.size(), kBlockSize);
    std::copy_n(data.begin(), in_block, block.begin());
    Transaction& tx = current();
    tx.block.assign(block.begin(), block.end());
    tx.data.assign(data.begin(), data.end());
    const CommandEntry* entry = identify_command(block);
    if (auto r = transport_fault(Phase::Data, data.size())) return *r;
    dispatch(entry, block, data.subspan(in_block));
    return all;
}

int ScannerModel::take_parameters(std::span<const uint8_t> data)
{
    const int all = static_cast<int>(data.size());
    framing_ = Framing::Idle;
    if (data.size() != kParametersSize) {
        violation("a parameter block of " + std::to_string(data.size()) + " bytes");
        return all;
    }
    current().data.assign(data.begin(), data.end());
    if (auto r = transport_fault(Phase::Data, data.size())) return *r;
    job_frame(header_, data);
    return all;
}

void ScannerModel::drop_exchange()
{
    framing_ = Framing::Idle;
    pending_ = {};
}

void ScannerModel::drop_job()
{
    job_open_ = false;
    window_.reset();
    parameters_.reset();
    engine_->end();
}

int ScannerModel::in(uint8_t endpoint, std::span<uint8_t> buffer)
{
    if (endpoint != kBulkIn || silent_) return kPending;
    if (pending_.kind == Pending::Kind::None) {
        violations_.push_back("an IN transfer with nothing pending (after " + number_text(numbered_) + ")");
        return -EPIPE;
    }
    const uint64_t n = pending_.transaction;
    if (fault(n, Injection::Action::Silence) != nullptr) {
        mark_broken(n);
        silent_ = true;
        return kPending;
    }
    if (fault(n, Injection::Action::Stall, Phase::Reply) != nullptr) {
        mark_broken(n);
        pending_ = {};
        return -EPIPE;
    }
    if (fault(n, Injection::Action::Disconnect, Phase::Reply) != nullptr) {
        mark_broken(n);
        pending_ = {};
        link().disconnect();
        return 0;
    }
    if (fault(n, Injection::Action::NoAnswer) != nullptr) {
        mark_broken(n);
        pending_.kind = Pending::Kind::Silent;
    }
    if (pending_.kind == Pending::Kind::Silent) return kPending;
    if (pending_.kind == Pending::Kind::Stall) {
        pending_ = {};
        return -EPIPE;
    }
    const size_t count = static_cast<size_t>(std::min<uint64_t>(buffer.size(), pending_.total - pending_.sent));
    const std::span<uint8_t> out = buffer.first(count);
    if (pending_.kind == Pending::Kind::Image) {
        engine_->read(pending_.side, out);
        for (const auto& [offset, mask] : pending_.xors) {
            const uint64_t at = offset % std::max<uint64_t>(pending_.total, 1);
            if (at >= pending_.sent && at < pending_.sent + count) out[at - pending_.sent] ^= mask;
        }
    } else {
        std::fill(out.begin(), out.end(), 0);
        if (pending_.sent < pending_.head.size()) {
            const size_t from_head = std::min<size_t>(count, pending_.head.size() - pending_.sent);
            std::copy_n(pending_.head.begin() + static_cast<std::ptrdiff_t>(pending_.sent), from_head, out.begin());
        }
    }
    pending_.sent += count;
    if (pending_.sent >= pending_.total) pending_ = {};
    return static_cast<int>(count);
}

bool ScannerModel::silent() const
{
    auto lock = const_cast<ScannerModel*>(this)->guard();
    return silent_;
}

void ScannerModel::wake()
{
    auto lock = guard();
    silent_ = false;
    drop_exchange();
}

void ScannerModel::release(int)
{
    drop_exchange();
    drop_job();
}

void ScannerModel::clear_halt(uint8_t)
{
    drop_exchange();
}

void ScannerModel::reset()
{
    drop_exchange();
}

void ScannerModel::discarded(uint8_t endpoint)
{
    if (endpoint == kBulkIn && pending_.kind == Pending::Kind::Silent) pending_ = {};
}

// ---- Job frames ----

void ScannerModel::job_frame(std::span<const uint8_t> frame, std::span<const uint8_t> parameters)
{
    Transaction& tx = current();
    const std::string& tag = tx.tag;
    const uint8_t id = frame[7];
    const bool in_job = job_open_ && id == kJobId;
    if (tag == "IMG" || tag == "CANC") tx.index = frame[tag == "IMG" ? 7 : 6];
    if (tag == "IMG") tx.length = le24(frame.data() + 4);
    if (tag == "MOTO") {
        tx.value = le16(frame.data() + 4);
        tx.sub = frame[6];
    }
    if (tag == "PAR") tx.payload = parameters.size();

    if (const Armed* a = fault(tx.number, Injection::Action::Refuse)) {
        if (tag == "INFO" || (tag == "IMG" && tx.length > 0)) {
            // Bare replies have no refusal: the device fails the transfer.
            refuse({a->injection.key, a->injection.code});
            queue({.kind = Pending::Kind::Stall});
        } else if (tag != "IMG") {
            job_reply({a->injection.key, a->injection.code}, job_byte());
        }
        return;
    }

    if (tag == "JOB" && frame[4] == 'C') {
        if (job_open_) return out_of_sequence();
        job_open_ = true;
        return job_reply({}, kJobId);
    }
    if (tag == "JOB" && frame[4] == 'E') {
        if (!in_job) return out_of_sequence();
        drop_job();
        return job_reply({}, id);
    }
    if (tag == "PAR") {
        if (!in_job) return out_of_sequence();
        if (frame[4] != kParametersSize) return job_reply(wrong_length(kParametersSize), job_byte());
        parameters_.emplace();
        std::copy(parameters.begin(), parameters.end(), parameters_->begin());
        return job_reply({}, kJobId);
    }
    if (tag == "SCAN") {
        if (!in_job || !window_ || !parameters_) return out_of_sequence();
        return job_reply(engine_->scan(*parameters_, *window_, records_), kJobId);
    }
    if (tag == "STOP") {
        if (!in_job) return out_of_sequence();
        engine_->stop();
        return job_reply({}, kJobId);
    }
    if (tag == "CANC") {
        if (!in_job) return out_of_sequence();
        engine_->cancel(frame[6]);
        return job_reply({}, kJobId);
    }
    if (tag == "INFO") {
        if (frame[4] != kInfoSize) violation("INFO frame byte 4 is " + std::to_string(frame[4]) + ", not 48");
        return info_reply(in_job);
    }
    if (tag == "IMG") return image_reply(tx.length, frame[7]);
    if (tag == "MOTO") {
        if (!in_job) return out_of_sequence();
        records_.motor.push_back({.job_frame = true, .operation = frame[6], .operand = tx.value});
        return job_reply({}, kJobId);
    }
    job_reply(sense::kUnknownCommand, job_byte());
}

void ScannerModel::out_of_sequence()
{
    violation("job frame out of sequence");
    job_reply(sense::kOutOfSequence, job_byte());
}

void ScannerModel::job_reply(Sense refusal, uint8_t id)
{
    if (refusal.refused()) refuse(refusal);
    std::vector<uint8_t> reply = {'S', 'T', 'A', 0, refusal.refused() ? uint8_t{'E'} : uint8_t{'A'}, 0, 0, id};
    if (const Armed* a = fault(current().number, Injection::Action::JobReplyId)) reply[7] = a->injection.byte7;
    current().reply = reply;
    queue({.kind = Pending::Kind::Bytes, .head = std::move(reply), .total = kHeaderSize});
}

void ScannerModel::info_reply(bool served)
{
    std::vector<uint8_t> reply(kInfoSize, 0);
    if (served) {
        engine_->info(std::span<uint8_t, kInfoSize>(reply.data(), kInfoSize), records_);
    } else {
        violation("INFO without an open job");
    }
    if (const Armed* a = fault(current().number, Injection::Action::InfoBytes)) {
        for (const auto& [offset, value] : a->injection.bytes)
            if (offset < reply.size()) reply[offset] = value;
    }
    current().payload = kInfoSize;
    current().reply = reply;
    queue({.kind = Pending::Kind::Bytes, .head = std::move(reply), .total = kInfoSize});
}

void ScannerModel::image_reply(uint32_t count, int side)
{
    if (!job_open_ || side > 1) {
        violation("IMG without an open job");
    } else if (count > engine_->ready(side)) {
        violation("IMG of " + std::to_string(count) + " bytes with " + std::to_string(engine_->ready(side)) +
                  " ready on side " + std::to_string(side));
    } else {
        current().payload = count;
        if (count > 0) {
            Pending image{.kind = Pending::Kind::Image, .total = count, .side = side};
            if (const Armed* a = fault(current().number, Injection::Action::ImageBytes))
                image.xors = a->injection.bytes;
            queue(std::move(image));
        }
        return;
    }
    // An IMG that cannot be served fails its data transfer at once.
    if (count > 0) queue({.kind = Pending::Kind::Stall});
}

// ---- Replies, faults and the transcript ----

void ScannerModel::request_reply(Sense refusal, const std::vector<uint8_t>& payload, uint64_t total)
{
    if (refusal.refused()) refuse(refusal);
    std::vector<uint8_t> head(kHeaderSize + (refusal.refused() ? 0 : payload.size()), 0);
    std::memcpy(head.data(), "STA\0", 4);
    head[4] = refusal.refused() ? 'E' : 'A';
    head[7] = job_byte();
    if (!refusal.refused()) std::copy(payload.begin(), payload.end(), head.begin() + kHeaderSize);
    current().reply.assign(head.begin(),
                           head.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(head.size(), total)));
    queue({.kind = Pending::Kind::Bytes, .head = std::move(head), .total = total});
}

void ScannerModel::queue(Pending pending)
{
    pending.transaction = current().number;
    if (const Armed* a = fault(pending.transaction, Injection::Action::ShortReply)) {
        pending.total = std::min<uint64_t>(pending.total, a->injection.keep);
        if (pending.kind == Pending::Kind::Stall) pending.kind = Pending::Kind::Bytes;
    }
    pending_ = std::move(pending);
}

void ScannerModel::refuse(Sense refusal)
{
    sense_ = refusal;
    Transaction& tx = current();
    if (tx.outcome == TxOutcome::Accepted) tx.outcome = TxOutcome::Refused;
    tx.sense_key = refusal.key;
    tx.sense_code = refusal.code;
}

void ScannerModel::violation(const std::string& what)
{
    Transaction& tx = current();
    tx.outcome = TxOutcome::Violation;
    violations_.push_back(number_text(tx.number) + " " + (tx.tag.empty() ? tag_text(tx.header.data()) : tx.tag) + ": " +
                          what);
}

void ScannerModel::identify(const std::string& tag)
{
    const uint64_t number = current().number;
    for (Armed& a : injections_) {
        if (a.used || a.bound != 0) continue;
        const Target& t = a.injection.target;
        if (t.number != 0) {
            if (t.number == number) a.bound = number;
        } else if (t.tag == tag && ++a.seen == t.occurrence) {
            a.bound = number;
        }
    }
}

ScannerModel::Armed* ScannerModel::fault(uint64_t transaction, Injection::Action action, std::optional<Phase> phase)
{
    for (Armed& a : injections_) {
        if (a.used || a.bound != transaction || a.injection.action != action) continue;
        if (phase && a.injection.phase != *phase) continue;
        a.used = true;
        return &a;
    }
    return nullptr;
}

std::optional<int> ScannerModel::transport_fault(Phase phase, size_t size)
{
    const uint64_t n = current().number;
    if (fault(n, Injection::Action::Stall, phase) != nullptr) {
        mark_broken(n);
        framing_ = Framing::Idle;
        return -EPIPE;
    }
    if (fault(n, Injection::Action::Disconnect, phase) != nullptr) {
        mark_broken(n);
        framing_ = Framing::Idle;
        link().disconnect();
        return static_cast<int>(size);
    }
    return std::nullopt;
}

void ScannerModel::mark_broken(uint64_t transaction)
{
    if (!transactions_.empty() && current().number == transaction) current().outcome = TxOutcome::Broken;
}

} // namespace sim
