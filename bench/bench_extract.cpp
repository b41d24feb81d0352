// Unpacking and verifying the payload on the simulated file system, against
// the floor: what any unpack with a digest check followed by a verification
// of the files on disk must do at the least, for every member back to back:
// zlib's uncompress, the MD5 of the expanded bytes, the bytes written to a
// file and read back, and the MD5 of what was read.
//
// The payload is the sample one (every member name, the shipped sizes, the
// generator's contents), or the archive named by VORN_PAYLOAD.  After the
// runs the program prints both times and their ratio.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "payload/payload.h"
#include "payload/texts.h"
#include "payload/voz.h"
#include "setup/context.h"
#include "sim/machine.h"
#include "tools/common/hostio.h"
#include "tools/common/payload_names.h"
#include "tools/common/samplegen.h"
#include "tools/common/vozpack.h"

namespace {

const char* kInstallDir = "C:\\Program Files\\vornhu\\";

tool::Bytes g_payload;

bool LoadPayload(std::string* error) {
    const char* path = getenv("VORN_PAYLOAD");
    if (path && *path) return tool::ReadWholeFile(path, &g_payload, error);
    std::vector<tool::PackMember> members;
    for (const tool::PayloadName& n : tool::kPayloadNames) {
        tool::PackMember m;
        m.name = n.name;
        if (m.name == "setupw64.exe")
            m.data = tool::MakeProgramImage(m.name, n.shippedBytes, true, false, "6.7");
        else
            m.data = tool::MakeSampleMember(m.name, error);
        if (m.data.empty()) return false;
        members.push_back(m);
    }
    return tool::BuildArchive(members, false, &g_payload, error);
}

// One machine for every run: each extraction replaces the files of the one
// before, as a reinstallation would.
struct Bench {
    sim::Machine machine;
    Bench() {
        ResetInstallContext();
        machine.Make32Bit();
        machine.AddDir(kInstallDir);
        CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), kInstallDir);
        machine.resources.push_back({PAYLOAD_RES_TYPE, PAYLOAD_RES_NAME, 2052, g_payload});
        OpenPayload();
    }
    ~Bench() { ClosePayload(); }
};

void BM_ExtractThenVerify(benchmark::State& state) {
    Bench bench;
    std::vector<char> failures(4096);
    MemberIterator it;
    VozBegin(&it, g_payload.data(), g_payload.size(), kMarkerExact);
    for (auto _ : state) {
        bool complete = ExtractArchive(g_ctx.payload, g_ctx.payloadBytes, g_ctx.workBuffer);
        int passed = VerifyArchive(g_ctx.payload, g_ctx.payloadBytes, failures.data(), failures.size(),
                                   VERIFY_EXCLUSIONS);
        if (!complete || (uint32_t)passed != it.count) {
            state.SkipWithError("the payload did not unpack and verify cleanly");
            break;
        }
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)g_payload.size());
}

void BM_Floor(benchmark::State& state) {
    std::vector<unsigned char> out(kWorkBufferBytes);
    std::vector<unsigned char> file;
    std::vector<unsigned char> back(kWorkBufferBytes);
    for (auto _ : state) {
        MemberIterator it;
        VozMember member;
        VozBegin(&it, g_payload.data(), g_payload.size(), kMarkerExact);
        while (VozNext(&it, &member)) {
            uLongf cb = (uLongf)out.size();
            uncompress(out.data(), &cb, member.compressed, member.cbCompressed);
            unsigned char digest[16];
            sim::Md5(out.data(), cb, digest);
            benchmark::DoNotOptimize(digest);
            file.assign(out.begin(), out.begin() + cb);
            memcpy(back.data(), file.data(), cb);
            sim::Md5(back.data(), cb, digest);
            benchmark::DoNotOptimize(digest);
        }
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)g_payload.size());
}

BENCHMARK(BM_ExtractThenVerify)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond);

// Keeps the best CPU time per iteration of each benchmark over its repetitions:
// the machine may be busy with other work, and noise only ever adds time.
class Reporter : public benchmark::ConsoleReporter {
   public:
    Reporter() : ConsoleReporter(OO_None) {}
    std::map<std::string, double> ms;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
            std::string name = r.run_name.function_name;
            double t = r.GetAdjustedCPUTime();
            if (!ms.count(name) || t < ms[name]) ms[name] = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    if (!LoadPayload(&error)) {
        fprintf(stderr, "bench_extract: no payload: %s\n", error.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    fflush(stdout);
    double product = reporter.ms["BM_ExtractThenVerify"];
    double floor = reporter.ms["BM_Floor"];
    if (product <= 0 || floor <= 0) return 1;
    printf("payload %zu bytes (best CPU time of each)\n", g_payload.size());
    printf("extract+verify %.2f ms  floor %.2f ms  ratio %.2f (target <= 1.10)\n", product, floor, product / floor);
    return 0;
}
