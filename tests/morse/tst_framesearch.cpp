// SPDX-License-Identifier: GPL-3.0-or-later
// Stage 5: text and frames from slot likelihoods made in the test, and the Morse alphabet
// against codes written out here, independently of the program's table.
#include "framesearch.h"
#include "morsecode.h"
#include "morsetesting.h"
#include "slottesting.h"

#include <QTest>

#include <cmath>
#include <complex>
#include <limits>

using namespace tovrin3;
using namespace tovrin3::morse;
using testing::slotsOf;

namespace {

struct Copy
{
    QString text;
    int frames = 0;
};

Copy search(std::span<const float> ratios, double signalToNoise, std::span<const float> levels = {})
{
    const SlotScores scores(ratios);
    const std::vector<FrameCandidate> candidates = frameCandidates(scores, signalToNoise, levels);
    const std::vector<Token> tokens = bestTokens(scores, candidates);
    Copy copy{joinTokens(tokens), 0};
    for (const Token &token : tokens)
        copy.frames += token.frame >= 0 ? 1 : 0;
    return copy;
}

} // namespace

class FrameSearchTest : public QObject
{
    Q_OBJECT

private slots:
    void text_data()
    {
        QTest::addColumn<QString>("sent");
        QTest::addColumn<float>("level");
        QTest::addColumn<int>("frames");
        const QString frame = QStringLiteral("QT7XMRKT3HKD 90 01 40 01 0C 6A 00 A5 03");
        QTest::newRow("a frame") << frame << 6.0f << 1;
        QTest::newRow("a frame, weak ratios") << frame << 1.5f << 1;
        QTest::newRow("two frames") << frame + " " + frame << 6.0f << 2;
        QTest::newRow("a frame keyed as one word, weak ratios")
            << "QT7XMRKT3HKD 900140010C6A00A503" << 1.5f << 1;
        QTest::newRow("header, then other text") << "QT7XMRKT3HKD HELLO WORLD" << 6.0f << 0;
        QTest::newRow("header and too few groups") << "QT7XMRKT3HKD 90 01 40" << 6.0f << 0;
        QTest::newRow("frame, then letters") << frame + " DE K" << 6.0f << 1;
        QTest::newRow("calling text") << "CQ CQ DE TOVRIN3 K" << 6.0f << 0;
        QTest::newRow("silence") << "" << 6.0f << 0;
    }

    void text()
    {
        QFETCH(QString, sent);
        QFETCH(float, level);
        // Slots at a ratio of 6 are a signal about 10 times the noise, at 1.5 about twice.
        const Copy copy = search(slotsOf(sent, level), level > 3 ? 10.0 : 2.0);
        QCOMPARE(copy.text, sent);
        QTEST(copy.frames, "frames");
    }

    // A frame whose digit ratios are partly erased (ratio 0, as in a deep fade) is still found as
    // a frame, with the best digits the rest of its ratios allow.
    void frameAcrossAnErasure()
    {
        const QString frame = QStringLiteral("QT7XMRKT3HKD 90 01 40 01 0C 6A 00 A5 03");
        std::vector<float> ratios = slotsOf(frame, 6.0f);
        const auto headerEnd = std::size_t(10 + headerKeying().length);
        std::fill_n(ratios.begin() + std::ptrdiff_t(headerEnd) + 20, 6, 0.0f);
        const Copy copy = search(ratios, 10.0);
        QCOMPARE(copy.frames, 1);
        QVERIFY(isFrameShaped(copy.text));
    }

    // A header in a fade's trough with the body loud after it: misplaced fits over the loud body
    // outscore the header's own, but not as a share of what their slots' levels give.
    void headerInATrough()
    {
        const QString frame = QStringLiteral("QT7XMRKT3HKD 90 01 40 01 0C 6A 00 A5 03");
        constexpr float Loud = 400.0f;
        constexpr float Faded = 4.0f;
        std::vector<float> ratios = slotsOf(frame, Loud);
        std::vector<float> levels(ratios.size(), Loud);
        const auto trough = std::ptrdiff_t(10 + headerKeying().length + WordGap);
        for (auto i = ratios.begin(); i < ratios.begin() + trough; ++i)
            *i *= Faded / Loud;
        std::fill_n(levels.begin(), trough, Faded);
        const Copy copy = search(ratios, Loud, levels);
        QCOMPARE(copy.text, frame);
        QCOMPARE(copy.frames, 1);
    }

    void alphabet_data()
    {
        QTest::addColumn<QString>("character");
        QTest::addColumn<QString>("code");
        // International Morse code, written out here on its own.
        const char *const codes[][2] = {
            {"A", ".-"},     {"B", "-..."},    {"C", "-.-."},    {"D", "-.."},    {"E", "."},
            {"F", "..-."},   {"G", "--."},     {"H", "...."},    {"I", ".."},     {"J", ".---"},
            {"K", "-.-"},    {"L", ".-.."},    {"M", "--"},      {"N", "-."},     {"O", "---"},
            {"P", ".--."},   {"Q", "--.-"},    {"R", ".-."},     {"S", "..."},    {"T", "-"},
            {"U", "..-"},    {"V", "...-"},    {"W", ".--"},     {"X", "-..-"},   {"Y", "-.--"},
            {"Z", "--.."},   {"1", ".----"},   {"2", "..---"},   {"3", "...--"},  {"4", "....-"},
            {"5", "....."},  {"6", "-...."},   {"7", "--..."},   {"8", "---.."},  {"9", "----."},
            {"0", "-----"},  {".", ".-.-.-"},  {",", "--..--"},  {"?", "..--.."}, {"'", ".----."},
            {"!", "-.-.--"}, {"/", "-..-."},   {"(", "-.--."},   {")", "-.--.-"}, {"&", ".-..."},
            {":", "---..."}, {";", "-.-.-."},  {"=", "-...-"},   {"+", ".-.-."},  {"-", "-....-"},
            {"_", "..--.-"}, {"\"", ".-..-."}, {"$", "...-..-"}, {"@", ".--.-."},
        };
        for (const auto &[character, code] : codes)
            QTest::newRow(character) << QString::fromLatin1(character) << QString::fromLatin1(code);
        QCOMPARE(int(std::size(codes)), int(morseAlphabet().size()));
    }

    // Keying written from the independent code copies back as the character, and the program's
    // table keys the character, and a lower-case letter as its capital, with that code.
    void alphabet()
    {
        QFETCH(QString, character);
        QFETCH(QString, code);
        const std::string_view elements = morseElements(character.front());
        QCOMPARE(QString::fromLatin1(elements.data(), qsizetype(elements.size())), code);
        QVERIFY(morseElements(character.front().toLower()) == elements);
        const KeyingTemplate keying = keyingOf(code.toStdString(), {});
        std::vector<float> ratios(10, -6.0f);
        std::vector<float> keyed(std::size_t(keying.length), -6.0f);
        for (const auto &[start, run] : keying.runs)
            std::fill_n(keyed.begin() + start, run, 6.0f);
        ratios.insert(ratios.end(), keyed.begin(), keyed.end());
        ratios.insert(ratios.end(), 10, -6.0f);
        QCOMPARE(search(ratios, 10.0).text, character);
    }

    // A template's score where it runs past the last slot: ruled out, or with the slots past the
    // end unknown (0) when asked for the score within.
    void scoresAtTheEnd_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<bool>("dashRuns");
        QTest::addColumn<float>("score");
        QTest::addColumn<float>("within");
        const float ruledOut = -std::numeric_limits<float>::infinity();
        // The slots read 1, 2, ... 8, a dash from slot i 100 (i + 1) where dash runs are given;
        // the template is a dash, a gap and a dot (-.), 5 slots.
        QTest::newRow("inside") << 0 << false << 1.0f + 2 + 3 + 5 << 1.0f + 2 + 3 + 5;
        QTest::newRow("ends on the last slot")
            << 3 << false << 4.0f + 5 + 6 + 8 << 4.0f + 5 + 6 + 8;
        QTest::newRow("its dot past the end") << 4 << false << ruledOut << 5.0f + 6 + 7;
        QTest::newRow("starts at the end") << 8 << false << ruledOut << 0.0f;
        QTest::newRow("starts past the end") << 9 << false << ruledOut << ruledOut;
        QTest::newRow("starts before the first slot") << -1 << false << ruledOut << ruledOut;
        QTest::newRow("dash runs: the dash as one run") << 0 << true << 100.0f + 5 << 100.0f + 5;
        QTest::newRow("dash runs: its dot past the end") << 5 << true << ruledOut << 600.0f;
        QTest::newRow("dash runs: half its dash past the end, slots apart")
            << 6 << true << ruledOut << 7.0f + 8;
    }

    void scoresAtTheEnd()
    {
        QFETCH(int, start);
        QFETCH(bool, dashRuns);
        const std::vector<float> ratios{1, 2, 3, 4, 5, 6, 7, 8};
        const std::vector<float> dashes{100, 200, 300, 400, 500, 600, 700, 800};
        const SlotScores scores(ratios, dashRuns ? std::span<const float>(dashes)
                                                 : std::span<const float>());
        QTEST(scores.score(keyingOf("-.", {}), start), "score");
        QTEST(scores.scoreWithin(keyingOf("-.", {}), start), "within");
    }

    // A character scored with its key-downs in one phase or each in its own: noiseless slots of
    // the sent character at a level of 10 (energy over noise), every element turned by
    // `phaseStep` radians from the one before. The character sent must beat its neighbour by a
    // margin; one slot apart, that margin is the one slot's evidence, whichever holds the dash.
    void characterScores_data()
    {
        QTest::addColumn<QString>("sent");
        QTest::addColumn<double>("phaseStep");
        QTest::addColumn<QString>("other");
        QTest::addColumn<double>("least"); // margin of sent over other
        QTest::addColumn<double>("most");
        // A gap slot scores -10 against keyed; a keyed slot about +7.6 apart, +10 in one phase
        // with the rest of its character.
        QTest::newRow("6 in phase over C: its gap, not a run through it")
            << "6" << 0.0 << "C" << 9.0 << 11.0;
        QTest::newRow("C in phase over 6: its dash's middle, the one slot")
            << "C" << 0.0 << "6" << 9.0 << 11.0;
        QTest::newRow("6, each element in its own phase, over C")
            << "6" << 2.0 << "C" << 9.0 << 11.0;
        QTest::newRow("C, each element in its own phase, over 6")
            << "C" << 2.0 << "6" << 6.0 << 8.0;
    }

    void characterScores()
    {
        QFETCH(QString, sent);
        QFETCH(double, phaseStep);
        QFETCH(QString, other);
        QFETCH(double, least);
        QFETCH(double, most);
        constexpr double Level = 10.0;
        const KeyingTemplate keying = keyingOf(morseElements(sent.front()), sent);
        std::vector<float> ratios(std::size_t(keying.length), float(-Level));
        std::vector<std::complex<float>> matched(ratios.size());
        const std::vector<float> levels(ratios.size(), float(Level));
        double phase = 0.0;
        for (const auto &[start, run] : keying.runs) {
            for (int slot = start; slot < start + run; ++slot) {
                // Noise energy 1 per slot, so 2 a s / N is 2 a^2 in the element's phase.
                matched[std::size_t(slot)] = std::polar(float(2 * Level), float(phase));
                ratios[std::size_t(slot)] =
                    float(std::log(std::cyl_bessel_i(0.0, 2 * Level)) - Level);
            }
            phase += phaseStep;
        }
        const SlotScores scores(ratios, {}, matched, levels);
        const KeyingTemplate otherKeying = keyingOf(morseElements(other.front()), other);
        QVERIFY_BETWEEN(scores.characterScoreWithin(keying, 0) -
                            scores.characterScoreWithin(otherKeying, 0),
                        least, most);
    }
};

QTEST_GUILESS_MAIN(FrameSearchTest)
#include "tst_framesearch.moc"
