#include "app/service/switchboard.h"

void TSwitchboard::Submit(const TRequest& request, TSwitchService::TDone done) {
    if (request.Switch < 1 || request.Switch > Channels()) {
        // Answered in switch 1's turn, never from inside the caller.
        const int asked = request.Switch;
        return Channel(1).Submit({TVerb::Status, {}}, [this, asked, done = std::move(done)](const TReply& reply) {
            TReply refused = reply;
            refused.Code = exitUsage;
            refused.Error = "there is no switch " + std::to_string(asked) + ": the daemon has " +
                            std::to_string(Channels()) + (Channels() == 1 ? " switch" : " switches");
            done(refused);
        });
    }
    if (request.Verb != TVerb::Status || !request.All) return Channel(request.Switch).Submit(request, std::move(done));
    Channel(request.Switch).Submit(request, [this, done = std::move(done)](const TReply& reply) {
        TReply all = reply;
        for (int c = 1; c <= Channels(); ++c) all.All.push_back(Channel(c).Status());
        done(all);
    });
}
