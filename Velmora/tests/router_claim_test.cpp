// SPDX-License-Identifier: GPL-3.0-or-later
// The router's decision per playback stream: taken into the tap, handed back to its device, or
// left alone, for the scope's applications and calls.
#include "audio/pipewire/PwChain.h"

#include <gtest/gtest.h>

using pwl::Claim;
using pwl::ClaimFacts;

namespace {

pwl::Node stream(const char *name, const char *binary = "", const char *role = "")
{
    pwl::Node n;
    n.mediaClass = pwl::kMediaClassPlayback;
    n.infoSeen = true;
    n.appName = name;
    n.appBinary = binary;
    n.mediaRole = role;
    return n;
}

} // namespace

TEST(RouterClaim, decision_per_stream_and_scope)
{
    const ClaimFacts routing{true, false, false, false, false, false};
    const ClaimFacts moved{true, false, false, true, false, false};
    const ClaimFacts restored{true, false, false, false, false, true}; // sent into the tap by someone else
    ChainScope out;
    out.excludedApps = {"tuner", "Zoom"};
    ChainScope calls;
    calls.retuneCalls = true;
    pwl::Node sink = stream("x");
    sink.mediaClass = pwl::kMediaClassSink;
    pwl::Node unseen = stream("x");
    unseen.infoSeen = false;
    pwl::Node fixed = stream("x");
    fixed.dontReconnect = true;
    const struct {
        const char *what;
        pwl::Node node;
        ClaimFacts facts;
        ChainScope scope;
        Claim want;
    } cases[] = {
        {"plain stream", stream("Firefox", "firefox"), routing, {}, Claim::take},
        {"chain not routing", stream("Firefox"), ClaimFacts{}, {}, Claim::none},
        {"our own node", stream("Velmora"), {true, false, true, false, false, true}, {}, Claim::none},
        {"a sink", sink, routing, {}, Claim::none},
        {"properties not known yet", unseen, routing, {}, Claim::none},
        {"dont-reconnect", fixed, routing, {}, Claim::none},
        {"asks for another device", stream("x"), {true, false, false, false, true, false}, {}, Claim::none},
        {"already moved", stream("x"), moved, {}, Claim::none},
        {"anonymous stream, empty keys never match", stream(""), routing, ChainScope{{""}, false, true}, Claim::take},
        {"excluded by binary", stream("Tuner App", "tuner"), routing, out, Claim::none},
        {"excluded by name while moved", stream("Zoom", "zoom-bin"), moved, out, Claim::giveBack},
        {"excluded, restored into the tap", stream("x", "tuner"), restored, out, Claim::giveBack},
        {"excluded but nothing routes", stream("x", "tuner"), {false, false, false, true, false, true}, out, Claim::none},
        {"bypassed: sent into the stalled tap", stream("x"), {false, true, false, false, false, true}, {}, Claim::giveBack},
        {"bypassed: elsewhere", stream("x"), {false, true, false, false, false, false}, {}, Claim::none},
        {"name match is exact", stream("zoom"), routing, out, Claim::take},
        {"call", stream("x", "", "Phone"), routing, {}, Claim::none},
        {"call moved before", stream("x", "", "phone"), moved, {}, Claim::giveBack},
        {"communication", stream("x", "", "Communication"), restored, {}, Claim::giveBack},
        {"calls retuned", stream("x", "", "Communication"), routing, calls, Claim::take},
        {"music", stream("x", "", "Music"), routing, {}, Claim::take},
    };
    for (const auto &c : cases)
        EXPECT_EQ(pwl::claimDecision(c.node, c.facts, c.scope), c.want) << c.what;
}
