// What a settings file of many keys costs at start-up: the store reads the whole file before the
// tray comes up, so its time grows with the number of keys and must grow no faster than it.
#include "platform/defaults/DefaultsStore.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// A file of `count` members of every kind the store reads, as another tool or a later version
// might leave it: about 25 bytes a key.
QByteArray settingsFile(int count) {
    QByteArray text = "{\n";
    for (int i = 0; i < count; ++i) {
        text += "    \"tool.key" + QByteArray::number(i) + "\": ";
        switch (i % 4) {
        case 0: text += QByteArray::number(i); break;
        case 1: text += "\"text " + QByteArray::number(i) + "\""; break;
        case 2: text += (i % 8 == 2) ? "true" : "false"; break;
        default: text += "[1, 2]"; break;
        }
        text += i + 1 < count ? ",\n" : "\n";
    }
    return text + "}\n";
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
}

void BM_LoadSettings(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath("defaults.json");
    const QByteArray file = settingsFile(int(state.range(0)));
    writeFile(path, file);
    for (auto _ : state) {
        platform::DefaultsStore store(path);
        if (store.dictionaryRepresentation().size() < state.range(0) / 2) {
            state.SkipWithError("the file was not read");
            break;
        }
        benchmark::DoNotOptimize(store.contains("tool.key0"));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * file.size());
}
BENCHMARK(BM_LoadSettings)->Arg(1000)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond);

// One change at start-up (the default shortcuts are stored then) put into a file that large.
void BM_LoadSettingsAndWriteOneChange(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath("defaults.json");
    const QByteArray original = settingsFile(int(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        writeFile(path, original);
        state.ResumeTiming();
        platform::DefaultsStore store(path, std::chrono::milliseconds(0));
        store.setString("zentola.lastCaptureMode", "rect");
        store.flush();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadSettingsAndWriteOneChange)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond);

// One set on the main thread in a store that large, as each step of a drag in the overlay makes one.
void BM_SetOneValue(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath("defaults.json");
    writeFile(path, settingsFile(int(state.range(0))));
    platform::DefaultsStore store(path, std::chrono::hours(1));
    qint64 i = 0;
    for (auto _ : state)
        store.setInteger("zentola.step", ++i);
}
BENCHMARK(BM_SetOneValue)->Arg(20000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
