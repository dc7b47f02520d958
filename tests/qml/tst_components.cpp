#include <QtQuickTest>

// Runs the QML test cases in components/ against the compiled-in documents.
QUICK_TEST_MAIN(components)
