#pragma once

#include <QFutureWatcher>
#include <QHash>
#include <QImage>
#include <QQuickItem>
#include <QSizeF>
#include <QTimer>
#include <QUrl>
#include <QtQml/qqmlregistration.h>
#include <memory>

namespace quorvel {

// One page of a local PDF, drawn as a white sheet that fits the item (aspect kept), centred.
// The file is opened once, on a worker (a large file takes a second or more, and a named pipe
// would never open), and the window goes on drawing meanwhile. The opened document is shared
// by the jobs that read a page's size and render a page, each on a worker; each job holds it,
// so nothing a job uses can be destroyed under it. Only the latest request's results are
// used: those of an older source, page or size are dropped.
class PdfPageItem : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(QUrl source READ source WRITE setSource NOTIFY sourceChanged FINAL)
    Q_PROPERTY(int page READ page WRITE setPage NOTIFY pageChanged FINAL)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged FINAL)
    Q_PROPERTY(int pageCount READ pageCount NOTIFY statusChanged FINAL)
    // The page whose picture is on screen (-1 for none), and whether that is `page`.
    Q_PROPERTY(int drawnPage READ drawnPage NOTIFY drawnChanged FINAL)
    Q_PROPERTY(bool pageDrawn READ pageDrawn NOTIFY drawnChanged FINAL)

public:
    enum Status { Null, Loading, Ready, Error };
    Q_ENUM(Status)

    explicit PdfPageItem(QQuickItem *parent = nullptr);
    ~PdfPageItem() override;

    QUrl source() const { return m_source; }
    void setSource(const QUrl &source);
    int page() const { return m_page; }
    void setPage(int page);
    Status status() const { return m_status; }
    int pageCount() const;
    int drawnPage() const { return m_image.isNull() ? -1 : m_imagePage; }
    bool pageDrawn() const { return m_status == Ready && drawnPage() == m_page; }

signals:
    void sourceChanged();
    void pageChanged();
    void statusChanged();
    void drawnChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *) override;
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private:
    struct OpenDocument;
    using Document = std::shared_ptr<OpenDocument>;
    struct Opened {
        quint64 source = 0;
        Document document;
        int pageCount = 0;
    };
    struct Sized {
        quint64 source = 0;
        int page = -1;
        QSizeF points;
    };
    struct Rendered {
        QImage image;
        quint64 generation = 0;
        int page = -1;
        QSizeF points;
    };

    void setStatus(Status status);
    void opened();
    void sized();
    void requestSize();
    // The size of `page` in points, empty while it is not a page of a ready document.
    void readPagePoints();
    // The wanted picture changed; a resize waits a moment so a drag renders once at its end.
    void requestRender(bool coalesce);
    void startRender();
    void rendered();
    void showImage(const QImage &image, int page, QSizeF points);
    qreal devicePixelRatio() const;
    // The sheet of a page of `points` size, fitted and centred, on whole device pixels.
    QRectF sheetRect(QSizeF points) const;

    QUrl m_source;
    int m_page = 0;
    Status m_status = Null;
    // Counts the sources set; an opening of an earlier one is dropped.
    quint64 m_sourceGeneration = 0;
    QFutureWatcher<Opened> m_open;
    Document m_document;
    int m_pageCount = 0;
    // Page sizes in points as read so far: reading all of a large file's takes minutes.
    QHash<int, QSizeF> m_sizes;
    QFutureWatcher<Sized> m_size;
    bool m_sizing = false;
    QSizeF m_pagePoints;

    // Each change of what should be drawn counts up; a render of another count is stale.
    quint64 m_generation = 0;
    bool m_rendering = false;
    QFutureWatcher<Rendered> m_render;
    QTimer m_resizePause;

    QImage m_image;
    int m_imagePage = -1;
    QSizeF m_imagePoints;
    bool m_textureStale = false;
};

} // namespace quorvel
