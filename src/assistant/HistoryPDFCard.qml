import QtQuick
import Quorvel.Assistant

// A PDF card of the home page's list: the same card as on a feature page.
SelectablePDFCard {}
