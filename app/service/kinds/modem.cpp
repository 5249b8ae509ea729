// A modem's hook relay: the scheme's commands go as they are; the modem
// echoes a command and answers "OK" or "ERROR" on a line of its own.
#include <string>

#include "app/service/kinds/kinds.h"

namespace {

// A modem's command buffer holds about 40 characters; anything much longer
// without a line end is not an answer.
constexpr std::size_t MaxLine = 256;

class TModemKind final : public TDeviceKind {
public:
    explicit TModemKind(std::int32_t baud) : baud_(baud) {}

    std::string_view Answerer() const override { return "the modem"; }
    std::string Settings(std::string_view schemes) const override {
        if (baud_ <= 0) return std::string(schemes);
        return std::string(schemes) + " baud=" + std::to_string(baud_);  // the last one named counts
    }
    TSent Command(TPortIo& io, int, std::string_view schemes) override {
        command_ = schemes;
        if (command_.ends_with('\r')) command_.pop_back();
        std::uint32_t written = 0;
        const bool ok = io.Write(schemes, written);
        // A short write is reported to the scheme as the port reported it.
        const bool all = ok && written == schemes.size();
        return {all, all ? TAnswer::Pending : TAnswer::None, {}, ok ? written : 0};
    }
    void Received(std::string_view bytes) override {
        SplitLines(partial_, bytes, MaxLine, [this](std::string_view line) { Line(line); });
    }
    void Reset() override { partial_.clear(); }

private:
    void Line(std::string_view line) {
        const std::size_t first = line.find_first_not_of(' ');
        if (first == std::string_view::npos) return;
        line = line.substr(first, line.find_last_not_of(' ') - first + 1);
        if (!Answered) return;
        if (line == "OK") Answered(1, TAnswer::Ok, {});
        if (line == "ERROR") Answered(1, TAnswer::Error, "the modem answered ERROR to \"" + command_ + "\"");
    }

    std::int32_t baud_;
    std::string partial_;
    std::string command_;
};

}  // namespace

std::unique_ptr<TDeviceKind> MakeModemKind(const TKindOptions& options) {
    return std::make_unique<TModemKind>(options.Baud);
}
