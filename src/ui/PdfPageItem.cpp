#include "PdfPageItem.h"

#include "service/LocalFile.h"

#include <QGuiApplication>
#include <QPdfDocument>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGRectangleNode>
#include <QtConcurrent/QtConcurrentRun>
#include <QtQml/qqmlfile.h>

#include <cmath>

namespace quorvel {

// The file, opened only when it is a regular file (a named pipe would hold the worker for
// good), and the document that reads it: the file outlives the document.
struct PdfPageItem::OpenDocument {
    std::unique_ptr<QFile> file;
    QPdfDocument document;
};

namespace {

// Long enough to span the steps of a window drag, short enough not to be seen as a wait.
constexpr int resizePauseMs = 80;

} // namespace

PdfPageItem::PdfPageItem(QQuickItem *parent)
    : QQuickItem(parent) {
    setFlag(ItemHasContents);
    connect(&m_open, &QFutureWatcher<Opened>::finished, this, &PdfPageItem::opened);
    connect(&m_size, &QFutureWatcher<Sized>::finished, this, &PdfPageItem::sized);
    connect(&m_render, &QFutureWatcher<Rendered>::finished, this, &PdfPageItem::rendered);
    m_resizePause.setSingleShot(true);
    m_resizePause.setInterval(resizePauseMs);
    connect(&m_resizePause, &QTimer::timeout, this, [this] {
        if (!m_rendering)
            startRender();
    });
}

// The watchers go with the item and drop work still running; the jobs own all they use.
PdfPageItem::~PdfPageItem() = default;

void PdfPageItem::setSource(const QUrl &source) {
    if (source == m_source)
        return;
    m_source = source;
    const quint64 generation = ++m_sourceGeneration;
    emit sourceChanged();
    // The previous file's page is not left on screen over the next one.
    showImage({}, -1, {});
    m_document.reset();
    m_pageCount = 0;
    m_sizes.clear();
    if (source.isEmpty()) {
        setStatus(Null);
        return;
    }
    const QString path = QQmlFile::urlToLocalFileOrQrc(source);
    if (path.isEmpty()) {
        setStatus(Error);
        return;
    }
    setStatus(Loading);
    m_open.setFuture(QtConcurrent::run([path, generation] {
        Opened done{generation, nullptr, 0};
        auto opened = std::make_shared<OpenDocument>();
        QString error;
        opened->file = openRegularFile(path, &error);
        if (!opened->file)
            return done;
        opened->document.load(opened->file.get());
        if (opened->document.status() != QPdfDocument::Status::Ready)
            return done;
        done.pageCount = opened->document.pageCount();
        done.document = std::move(opened);
        return done;
    }));
}

void PdfPageItem::opened() {
    Opened done = m_open.result();
    if (done.source != m_sourceGeneration)
        return;
    m_document = std::move(done.document);
    m_pageCount = done.pageCount;
    setStatus(m_document ? Ready : Error);
}

void PdfPageItem::requestSize() {
    if (m_sizing || !m_document)
        return;
    m_sizing = true;
    m_size.setFuture(
        QtConcurrent::run([document = m_document, source = m_sourceGeneration, page = m_page] {
            return Sized{source, page, document->document.pagePointSize(page)};
        }));
}

void PdfPageItem::sized() {
    m_sizing = false;
    const Sized done = m_size.result();
    if (done.source != m_sourceGeneration)
        return;
    m_sizes.insert(done.page, done.points);
    // The page may have turned meanwhile: that page's size is read next.
    readPagePoints();
    if (done.page == m_page) {
        requestRender(false);
        update();
    }
}

void PdfPageItem::setPage(int page) {
    if (page == m_page)
        return;
    m_page = page;
    emit pageChanged();
    readPagePoints();
    emit drawnChanged();
    requestRender(false);
    update();
}

void PdfPageItem::readPagePoints() {
    m_pagePoints = {};
    if (m_status != Ready || m_page < 0 || m_page >= pageCount())
        return;
    const auto known = m_sizes.constFind(m_page);
    if (known != m_sizes.constEnd())
        m_pagePoints = *known;
    else
        requestSize();
}

int PdfPageItem::pageCount() const {
    return m_status == Ready ? m_pageCount : 0;
}

void PdfPageItem::setStatus(Status status) {
    if (status == m_status)
        return;
    m_status = status;
    readPagePoints();
    emit statusChanged();
    emit drawnChanged();
    requestRender(false);
    update();
}

void PdfPageItem::requestRender(bool coalesce) {
    ++m_generation;
    if (coalesce && !m_image.isNull()) {
        m_resizePause.start();
        return;
    }
    m_resizePause.stop();
    // One render at a time: the one running hands over to the latest request when it ends.
    if (!m_rendering)
        startRender();
}

void PdfPageItem::startRender() {
    const QRectF sheet = sheetRect(m_pagePoints);
    if (m_status != Ready || sheet.isEmpty())
        return;
    const qreal dpr = devicePixelRatio();
    const QSize pixels = (sheet.size() * dpr).toSize();
    const Rendered request{{}, m_generation, m_page, m_pagePoints};
    m_rendering = true;
    m_render.setFuture(QtConcurrent::run([document = m_document, pixels, dpr, request] {
        Rendered done = request;
        done.image = document->document.render(request.page, pixels);
        done.image.setDevicePixelRatio(dpr);
        return done;
    }));
}

void PdfPageItem::rendered() {
    m_rendering = false;
    const Rendered done = m_render.result();
    if (done.generation != m_generation) {
        if (!m_resizePause.isActive())
            startRender();
        return;
    }
    // The file changed under the document since it was opened.
    if (done.image.isNull()) {
        setStatus(Error);
        return;
    }
    showImage(done.image, done.page, done.points);
}

void PdfPageItem::showImage(const QImage &image, int page, QSizeF points) {
    const int drawnBefore = drawnPage();
    m_image = image;
    m_imagePage = page;
    m_imagePoints = points;
    m_textureStale = true;
    update();
    if (drawnPage() != drawnBefore)
        emit drawnChanged();
}

void PdfPageItem::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) {
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size()) {
        requestRender(true);
        update();
    }
}

void PdfPageItem::itemChange(ItemChange change, const ItemChangeData &value) {
    QQuickItem::itemChange(change, value);
    if (change == ItemDevicePixelRatioHasChanged || (change == ItemSceneChange && value.window))
        requestRender(change == ItemDevicePixelRatioHasChanged);
}

qreal PdfPageItem::devicePixelRatio() const {
    return window() ? window()->effectiveDevicePixelRatio() : qGuiApp->devicePixelRatio();
}

QRectF PdfPageItem::sheetRect(QSizeF points) const {
    if (points.isEmpty() || width() <= 0 || height() <= 0)
        return {};
    const qreal dpr = devicePixelRatio();
    const QSizeF fitted = points.scaled(size(), Qt::KeepAspectRatio) * dpr;
    const QSizeF pixels(std::floor(fitted.width()), std::floor(fitted.height()));
    const QPointF corner(std::round((width() * dpr - pixels.width()) / 2),
                         std::round((height() * dpr - pixels.height()) / 2));
    return {corner / dpr, pixels / dpr};
}

QSGNode *PdfPageItem::updatePaintNode(QSGNode *old, UpdatePaintNodeData *) {
    // The picture on screen keeps its own page's shape until the next page's is in.
    const QRectF sheet = sheetRect(m_image.isNull() ? m_pagePoints : m_imagePoints);
    const bool withPicture = !m_image.isNull();
    // A sheet alone or a sheet with its picture, each built whole: the software renderer places
    // a child added later to a plain node without the item's position.
    if (sheet.isEmpty() || m_status != Ready || (old && (old->childCount() == 2) != withPicture)) {
        delete old;
        old = nullptr;
        if (sheet.isEmpty() || m_status != Ready)
            return nullptr;
    }
    QSGNode *root = old;
    if (!root) {
        root = new QSGNode;
        QSGRectangleNode *paper = window()->createRectangleNode();
        paper->setColor(Qt::white);
        root->appendChildNode(paper);
        if (withPicture) {
            QSGImageNode *picture = window()->createImageNode();
            picture->setOwnsTexture(true);
            picture->setFiltering(QSGTexture::Linear);
            root->appendChildNode(picture);
            m_textureStale = true;
        }
    }
    static_cast<QSGRectangleNode *>(root->firstChild())->setRect(sheet);
    if (withPicture) {
        auto *picture = static_cast<QSGImageNode *>(root->lastChild());
        if (m_textureStale) {
            picture->setTexture(window()->createTextureFromImage(m_image));
            m_textureStale = false;
        }
        picture->setRect(sheet);
    }
    return root;
}

} // namespace quorvel
