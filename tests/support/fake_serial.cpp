#include "tests/support/fake_serial.h"

#include <algorithm>

TFakeSerial::TFakeSerial() : installed_(this) {}

TFakeSerial::~TFakeSerial() = default;

void TFakeSerial::SetMissing(std::int32_t port, bool missing) { At(port).Missing = missing; }
void TFakeSerial::SetInUse(std::int32_t port, bool inUse) { At(port).InUse = inUse; }
void TFakeSerial::SetConfigureFails(std::int32_t port, bool fails) { At(port).ConfigureFails = fails; }
void TFakeSerial::SetWriteFails(std::int32_t port, bool fails) { At(port).WriteFails = fails; }
void TFakeSerial::SetWriteLimit(std::int32_t port, std::uint32_t bytes) { At(port).WriteLimit = bytes; }

TFakeSerial::TPort* TFakeSerial::Find(std::int32_t port) {
    const auto it = ports_.find(port);
    return it == ports_.end() ? nullptr : &it->second;
}

const TFakeSerial::TPort* TFakeSerial::Find(std::int32_t port) const {
    const auto it = ports_.find(port);
    return it == ports_.end() ? nullptr : &it->second;
}

bool TFakeSerial::IsOpen(std::int32_t port) const {
    return std::any_of(open_.begin(), open_.end(), [port](const auto& entry) { return entry.second.Port == port; });
}

std::int32_t TFakeSerial::OpenCount() const { return static_cast<std::int32_t>(open_.size()); }

std::string TFakeSerial::Output(std::int32_t port) const {
    const TPort* p = Find(port);
    return p ? p->Output : std::string();
}

std::string TFakeSerial::Definition(std::int32_t port) const {
    const TPort* p = Find(port);
    return p ? p->Definition : std::string();
}

std::uint32_t TFakeSerial::Timeout(std::int32_t port) const {
    const TPort* p = Find(port);
    return p ? p->Timeout : 0;
}

std::vector<TSerialCall> TFakeSerial::CallsOf(TSerialCall::TKind kind) const {
    std::vector<TSerialCall> out;
    std::copy_if(Calls.begin(), Calls.end(), std::back_inserter(out),
                 [kind](const TSerialCall& call) { return call.Kind == kind; });
    return out;
}

void TFakeSerial::Clear() {
    Calls.clear();
    for (auto& entry : ports_) entry.second.Output.clear();
}

TSerialCall TFakeSerial::CallOn(TSerialCall::TKind kind, TPortHandle handle) const {
    TSerialCall call;
    call.Kind = kind;
    call.Handle = handle;
    if (const auto it = open_.find(handle); it != open_.end()) {
        call.Device = it->second.Device;
        call.Port = it->second.Port;
    }
    return call;
}

TPortHandle TFakeSerial::Open(std::string_view deviceName) {
    TSerialCall call;
    call.Kind = TSerialCall::Open;
    call.Device = std::string(deviceName);
    call.Port = SerialPortNumber(deviceName);
    const TPort* p = Find(call.Port);
    if (call.Port > 0 && !(p && (p->Missing || p->InUse)) && !IsOpen(call.Port)) {
        call.Handle = nextHandle_++;
        call.Ok = true;
        open_[call.Handle] = TOpen{call.Port, call.Device};
    }
    Calls.push_back(call);
    return call.Handle;
}

bool TFakeSerial::Configure(TPortHandle port, std::string_view definition, std::uint32_t timeoutMs) {
    TSerialCall call = CallOn(TSerialCall::Configure, port);
    call.Definition = std::string(definition);
    call.Timeout = timeoutMs;
    TSerialSettings settings;
    if (open_.count(port) != 0 && !At(call.Port).ConfigureFails && ParseSerialDefinition(definition, settings)) {
        call.Ok = true;
        At(call.Port).Definition = call.Definition;
        At(call.Port).Timeout = timeoutMs;
    }
    Calls.push_back(call);
    return call.Ok;
}

bool TFakeSerial::Write(TPortHandle port, const char* bytes, std::uint32_t count, std::uint32_t& written) {
    TSerialCall call = CallOn(TSerialCall::Write, port);
    call.Bytes.assign(bytes, count);
    written = 0;
    if (open_.count(port) != 0 && !At(call.Port).WriteFails) {
        TPort& p = At(call.Port);
        written = std::min(count, p.WriteLimit);
        p.Output.append(bytes, written);
        call.Ok = true;
    }
    call.Written = written;
    Calls.push_back(call);
    return call.Ok;
}

void TFakeSerial::Close(TPortHandle port) {
    TSerialCall call = CallOn(TSerialCall::Close, port);
    call.Ok = open_.erase(port) != 0;
    Calls.push_back(call);
}
