import QtQuick
import Tovrick.Art 1.0

// The character with arms and legs; the caller gives it its size.
BlobPortrait {
    showLimbs: true
}
