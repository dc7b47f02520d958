// Draws Kestrolune's pictures with QPainter.
//   drawicons --hicolor DIR                DIR/<n>x<n>/apps/kestrolune.png, the menu icon
//   drawicons --loose DIR [--font FILE]   DIR/AirPods.ico, DIR/battery/battery-0..100.png and battery-unknown.png, each also @2x
//   drawicons --embedded DIR              DIR/AirPods.png, DIR/AirPods.ico, DIR/exclamation.png
// The embedded pictures are drawn once and committed under qml/resource/;
// the loose ones are drawn at every build.
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

namespace {

const QColor kBlue("#2f7bf5");

QColor levelColor(double fraction)
{
    if (fraction < 0.15)
        return QColor("red");
    if (fraction <= 0.5)
        return QColor("#FFC107");
    return QColor("#4CAF50");
}

// One earbud: a round head with a stem hanging from it, mirrored for the right.
void drawEarbud(QPainter &p, const QPointF &head, double scale, bool mirrored)
{
    p.save();
    p.translate(head);
    p.scale(mirrored ? -scale : scale, scale);
    p.rotate(-12);
    QPainterPath stem;
    stem.addRoundedRect(QRectF(6, 10, 22, 110), 11, 11);
    QPainterPath bud;
    bud.addEllipse(QPointF(0, 0), 38, 34);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue.darker(115));
    p.drawPath(stem);
    p.setBrush(kBlue);
    p.drawPath(bud);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawEllipse(QPointF(-12, -6), 11, 10); // speaker grille
    p.restore();
}

QImage earbuds(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = height / 200.0;
    drawEarbud(p, QPointF(width * 0.5 - 62 * s, 55 * s), s, false);
    drawEarbud(p, QPointF(width * 0.5 + 62 * s, 55 * s), s, true);
    return image;
}

QImage squareEarbuds(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    const QImage wide = earbuds(310, 200).scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    p.drawImage((side - wide.width()) / 2, (side - wide.height()) / 2, wide);
    return image;
}

QImage exclamation(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#F5B400"));
    p.drawEllipse(QRectF(4, 4, side - 8, side - 8));
    p.setBrush(Qt::white);
    const double w = side * 0.13;
    p.drawRoundedRect(QRectF((side - w) / 2, side * 0.2, w, side * 0.42), w / 2, w / 2);
    p.drawEllipse(QPointF(side / 2.0, side * 0.76), w * 0.62, w * 0.62);
    return image;
}

// Each picture is drawn on a 32-pixel grid, 'scale' times over (2: the
// "@2x" picture for a scaled panel).
QImage levelPicture(int level, const QString &family, int scale)
{
    QImage image(32 * scale, 32 * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(scale, scale);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(levelColor(level / 100.0));
    p.drawRoundedRect(QRectF(0, 0, 32, 32), 5, 5);
    QFont font(family);
    font.setBold(true);
    font.setPixelSize(level == 100 ? 20 : 25);
    if (level == 100)
        font.setLetterSpacing(QFont::AbsoluteSpacing, -1.5);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 32, 32), Qt::AlignCenter, QString::number(level));
    return image;
}

// No level known: a grey tile with a question mark, unlike any level's colour.
QImage unknownPicture(const QString &family, int scale)
{
    QImage image(32 * scale, 32 * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(scale, scale);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setPen(QPen(QColor("#9e9e9e"), 2));
    p.setBrush(QColor("#e0e0e0"));
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 5, 5);
    QFont font(family);
    font.setBold(true);
    font.setPixelSize(25);
    p.setFont(font);
    p.setPen(QColor("#616161"));
    p.drawText(QRectF(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("?"));
    return image;
}

bool save(const QImage &image, const QString &path, const char *format)
{
    if (image.save(path, format))
        return true;
    QTextStream(stderr) << "drawicons: cannot write " << path << "\n";
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || (args[1] != "--loose" && args[1] != "--embedded" && args[1] != "--hicolor")) {
        QTextStream(stderr) << "usage: drawicons --loose DIR [--font FILE] | --embedded DIR | --hicolor DIR\n";
        return 2;
    }
    const QDir dir(args[2]);
    QDir().mkpath(dir.path());
    if (args[1] == "--hicolor") {
        // The menu entry's icon in the icon theme, at the usual sizes.
        bool drawn = true;
        for (int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString sub = QStringLiteral("%1x%1/apps").arg(side);
            QDir().mkpath(dir.filePath(sub));
            drawn = save(squareEarbuds(side), dir.filePath(sub + "/kestrolune.png"), "PNG") && drawn;
        }
        return drawn ? 0 : 1;
    }
    bool ok = save(squareEarbuds(64), dir.filePath("AirPods.ico"), "ICO");

    if (args[1] == "--embedded") {
        ok = save(earbuds(310, 200), dir.filePath("AirPods.png"), "PNG") && ok;
        ok = save(exclamation(200), dir.filePath("exclamation.png"), "PNG") && ok;
        return ok ? 0 : 1;
    }

    QString family = QStringLiteral("Sans");
    const int fontAt = args.indexOf("--font");
    if (fontAt > 0 && fontAt + 1 < args.size()) {
        const int id = QFontDatabase::addApplicationFont(args[fontAt + 1]);
        if (id >= 0 && !QFontDatabase::applicationFontFamilies(id).isEmpty())
            family = QFontDatabase::applicationFontFamilies(id).first();
    }
    QDir().mkpath(dir.filePath("battery"));
    // Qt takes "name@2x.png" beside "name.png" where the screen is scaled.
    for (int scale : {1, 2}) {
        const QString suffix = scale == 1 ? QStringLiteral(".png") : QStringLiteral("@2x.png");
        for (int level = 0; level <= 100; ++level)
            ok = save(levelPicture(level, family, scale),
                      dir.filePath(QString("battery/battery-%1").arg(level) + suffix), "PNG") && ok;
        ok = save(unknownPicture(family, scale), dir.filePath("battery/battery-unknown" + suffix), "PNG") && ok;
    }
    return ok ? 0 : 1;
}
