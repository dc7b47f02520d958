// The configuration loader on arbitrary file content: it never fails loudly
// on a readable file, and whatever map it loads saves and loads back equal.
#include "app/configstore.h"
#include "app/messagesink.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

namespace {
class CountingSink : public MessageSink
{
public:
    void information(const QString &, const QString &) override { ++boxes; }
    int boxes = 0;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath("kestrolune.json");
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    CountingSink sink;
    ConfigStore store(sink, path);
    bool opened = false;
    const QJsonObject map = store.load(&opened);
    if (!opened || sink.boxes != 0)
        std::abort();
    if (!store.save(map) || store.load() != map)
        std::abort();
    return 0;
}
