// When the outline takes the decoder's buffers, and what happens to them when the file changes,
// the reading is held or the file ends; decoded by hand, so nothing waits.
#include "adapters/WaveformReader.h"

#include "fakes/FakeOutlineDecoder.h"

#include <QSignalSpy>
#include <QTest>

using namespace quavera;
using testing::FakeOutlineDecoder;

class WaveformReaderTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        log_ = {};
        reader_ = std::make_unique<WaveformReader>(FakeOutlineDecoder::factory(&log_), nullptr);
    }
    void cleanup() { reader_.reset(); }

    void takesBuffersAsTheyComeAndEndsComplete() {
        QSignalSpy changed(reader_.get(), &WaveformReader::changed);
        reader_->read(QStringLiteral("a.mp3"));
        QCOMPARE(reader_->state(), WaveformReader::State::Reading);
        log_.current->decode(0.5f);
        log_.current->decode(0.25f);
        QCOMPARE(reader_->readSeconds(), 2.0);
        QCOMPARE(reader_->peaks().extremes(0.0, 1.0).high, 0.5f);
        QCOMPARE(reader_->peaks().extremes(1.0, 2.0).low, -0.25f);

        emit log_.current->finished();
        QCOMPARE(reader_->state(), WaveformReader::State::Complete);
        QCOMPARE(log_.stops, 1);
        QVERIFY(changed.size() >= 2); // the start and the end at least
    }

    void fileEndingWhileHeldKeepsItsLastBuffers() {
        reader_->read(QStringLiteral("a.mp3"));
        log_.current->decode(0.5f);
        reader_->setHeld(true);
        log_.current->decode(0.75f);
        emit log_.current->finished();
        QCOMPARE(reader_->readSeconds(), 1.0); // nothing taken while held
        QCOMPARE(reader_->state(), WaveformReader::State::Reading);

        reader_->setHeld(false);
        QCOMPARE(reader_->state(), WaveformReader::State::Complete);
        QCOMPARE(reader_->readSeconds(), 2.0);
        QCOMPARE(reader_->peaks().extremes(1.0, 2.0).high, 0.75f);
    }

    void aNewFileStartsAfreshWithoutTheOldOnesBuffers() {
        reader_->read(QStringLiteral("a.mp3"));
        log_.current->decode(0.9f);
        reader_->read(QStringLiteral("b.mp3"));
        QCOMPARE(log_.stops, 1); // the first file is closed before the second opens
        QCOMPARE(log_.started, (std::vector<QString>{"a.mp3", "b.mp3"}));
        QCOMPARE(reader_->readSeconds(), 0.0);
        QVERIFY(reader_->peaks().extremes(0.0, 1.0).empty());

        log_.current->decode(0.1f);
        QCOMPARE(reader_->peaks().extremes(0.0, 1.0).high, 0.1f);
    }

    void failureStopsTheReading() {
        reader_->read(QStringLiteral("a.mp3"));
        FakeOutlineDecoder* decoder = log_.current;
        reader_->setHeld(true);
        decoder->decode(0.5f);
        emit decoder->failed();
        QCOMPARE(reader_->state(), WaveformReader::State::Failed);
        QCOMPARE(log_.stops, 1);
        reader_->setHeld(false);
        QCOMPARE(reader_->readSeconds(), 0.0);
    }

private:
    FakeOutlineDecoder::Log log_;
    std::unique_ptr<WaveformReader> reader_;
};

QTEST_GUILESS_MAIN(WaveformReaderTest)
#include "WaveformReaderTest.moc"
