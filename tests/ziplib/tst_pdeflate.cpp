// The parallel deflate stream: blocks compressed apart must join into one stream that
// plain zlib inflates to the input, with the right CRC, whatever the block boundaries.
#include "pdeflate.h"

#include <QtTest>
#include <zlib.h>

using namespace ziplib;

namespace {
QByteArray inflateRaw(const std::vector<uint8_t>& in, bool* ok) {
    z_stream s{};
    inflateInit2(&s, -15);
    QByteArray out;
    std::vector<char> buf(1 << 16);
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = static_cast<uInt>(in.size());
    int r = Z_OK;
    while (r == Z_OK) {
        s.next_out = reinterpret_cast<Bytef*>(buf.data());
        s.avail_out = static_cast<uInt>(buf.size());
        r = inflate(&s, Z_NO_FLUSH);
        out.append(buf.data(), static_cast<qsizetype>(buf.size() - s.avail_out));
    }
    *ok = r == Z_STREAM_END && s.avail_in == 0;
    inflateEnd(&s);
    return out;
}

QByteArray sample(qsizetype n, int kind) {
    QByteArray b(n, '\0');
    quint32 x = 12345;
    for (qsizetype i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        switch (kind) {
        case 0:
            b[i] = static_cast<char>(x >> 24);
            break; // random
        case 1:
            b[i] = (i % 4096) < 200 ? static_cast<char>("record"[i % 6]) : '\0';
            break; // pages
        default:
            b[i] = static_cast<char>('a' + (i / 7) % 26);
            break; // text-like
        }
    }
    return b;
}
} // namespace

class TestParallelDeflate : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data() {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("level");
        const qsizetype block = ParallelDeflater::kBlock;
        QTest::newRow("empty") << qsizetype(0) << 0 << 2 << 9;
        QTest::newRow("one byte") << qsizetype(1) << 0 << 2 << 9;
        QTest::newRow("below window") << qsizetype(20000) << 2 << 2 << 9;
        QTest::newRow("exactly one block") << block << 1 << 2 << 9;
        QTest::newRow("block plus one") << block + 1 << 2 << 3 << 6;
        QTest::newRow("several blocks, random") << 3 * block + 77 << 0 << 4 << 1;
        QTest::newRow("several blocks, pages") << 5 * block << 1 << 4 << 9;
        QTest::newRow("inline on one core") << 2 * block + 5 << 2 << 1 << 9;
    }
    void roundTrip() {
        QFETCH(qsizetype, size);
        QFETCH(int, kind);
        QFETCH(int, threads);
        QFETCH(int, level);
        const QByteArray in = sample(size, kind);
        DeflatePool pool(static_cast<unsigned>(threads));
        uint32_t crc = 0;
        const auto out = parallelDeflate(reinterpret_cast<const uint8_t*>(in.constData()),
                                         static_cast<size_t>(in.size()), level, pool, &crc);
        bool ok = false;
        QCOMPARE(inflateRaw(out, &ok), in);
        QVERIFY(ok);
        QCOMPARE(crc, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(in.constData()),
                                                  static_cast<uInt>(in.size()))));
    }

    void joinedStreamCostsLittle() {
        // Priming each block with the previous window keeps the size close to one stream.
        const QByteArray in =
            sample(4 * ParallelDeflater::kBlock, 1) + sample(ParallelDeflater::kBlock, 2);
        DeflatePool pool(4);
        const auto out = parallelDeflate(reinterpret_cast<const uint8_t*>(in.constData()),
                                         static_cast<size_t>(in.size()), 9, pool);
        uLongf single = compressBound(static_cast<uLong>(in.size()));
        std::vector<Bytef> buf(single);
        QCOMPARE(compress2(buf.data(), &single, reinterpret_cast<const Bytef*>(in.constData()),
                           static_cast<uLong>(in.size()), 9),
                 Z_OK);
        QVERIFY2(double(out.size()) <= double(single) * 1.01 + 64,
                 qPrintable(QString("%1 vs %2").arg(out.size()).arg(single)));
    }
};

QTEST_GUILESS_MAIN(TestParallelDeflate)
#include "tst_pdeflate.moc"
