#!/usr/bin/env bash
# Measures the power of the test suite: plants one small fault at a time in the product code
# (the kind of one-line slip a careless edit makes and a user would notice), rebuilds, runs the
# suite and counts whether any test failed. Not part of `make test`; see the README for timing.
#
#   tools/seed-faults.sh [--build-dir DIR] [--only N,N,...] [--timeout S] [--check] [--list]
#
#   --build-dir DIR  where to configure and build (default build/seed); reused between runs,
#                    so only the touched files are recompiled
#   --only N,...     run only these faults (numbers as printed by --list)
#   --timeout S      a test running longer counts as hung, which catches the fault (default
#                    120 s; the suite's slowest test takes well under a minute)
#   --check          only verify that every original text is still found exactly once
#   --list           print the table and exit
#
# Each fault is one line of the table below: NAME ;; FILE ;; ORIGINAL ;; REPLACEMENT, applied as
# a literal replacement. The original must occur exactly once in FILE, or the script stops: when
# code moves, update the table. Inside ORIGINAL and REPLACEMENT, \n stands for a line break
# (needed only where one line alone is not unique). The file is restored after each fault, also
# when the script is interrupted.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR="$ROOT/build/seed"
ONLY=""
TIMEOUT=120
MODE=run

while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) BUILD_DIR=$(realpath -m "$2"); shift 2 ;;
        --only) ONLY=",$2,"; shift 2 ;;
        --timeout) TIMEOUT=$2; shift 2 ;;
        --check) MODE=check; shift ;;
        --list) MODE=list; shift ;;
        -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done

FAULTS=$(cat <<'TABLE'
facade: image description ignored for the current image ;; integrations/OvIntegrations.cpp ;; if (id == m_currentImage) { ;; if (id != m_currentImage) {
facade: added images relayed as rejected ;; integrations/OvIntegrations.cpp ;; connect(m_backEnd, &PluginData::imagesAdded, this, &OvIntegrations::pluginImagesAdded, ;; connect(m_backEnd, &PluginData::imagesAdded, this, &OvIntegrations::invalidImages,
back end: filter host not in plug-in mode ;; integrations/PluginData.cpp ;; bool PluginData::isPluginMode() const\n{\n    return true; ;; bool PluginData::isPluginMode() const\n{\n    return false;
channel: last guard byte unchecked ;; integrations/psplugin/SharedMemoryChannel.h ;; for (std::size_t i = 0; i < GuardSize; ++i) { ;; for (std::size_t i = 0; i + 1 < GuardSize; ++i) {
record: rows of half the samples accepted ;; integrations/psplugin/PSRecordCheck.cpp ;; rowBytes < width * 2 ;; rowBytes < width
filter host: status 1 after a delivered image ;; integrations/psplugin/PSPluginData.cpp ;; if (!m_imageWasSaved.load()) ;; if (m_imageWasSaved.load())
filter host: silent and interactive keys swapped ;; integrations/psplugin/PSPluginData.cpp ;; return m_record->runMode != 0 ? ;; return m_record->runMode == 0 ?
filter host: minor version read from the major field ;; integrations/psplugin/PSPluginData.cpp ;; .arg(m_record->hostVersionMinor) ;; .arg(m_record->hostVersionMajor)
filter host: gray image read from three planes ;; integrations/psplugin/PSPluginData.cpp ;; grayFromPlane0 ? m_planeData[0] : m_planeData[k] ;; grayFromPlane0 ? m_planeData[k] : m_planeData[0]
transfer: save scaled to 32768 ;; integrations/psplugin/PSPlaneTransfer.cpp ;; scaled.convertTo(samples, CV_16U, 32767.0, 0.0); ;; scaled.convertTo(samples, CV_16U, 32768.0, 0.0);
transfer: row offset from the width, not the stride ;; integrations/psplugin/PSPlaneTransfer.cpp ;; reinterpret_cast<unsigned char *>(plane) + uint32_t(y) * view.rowBytes ;; reinterpret_cast<unsigned char *>(plane) + uint32_t(y) * (view.rowBytes & ~3u)
settings: manual flag from the wrong run mode ;; integrations/psplugin/PSSettingsExchange.cpp ;; runMode != 1); ;; runMode != 0);
settings: subject text of 256 characters accepted ;; integrations/psplugin/PSSettingsExchange.cpp ;; if (subjectText.size() >= 256) { ;; if (subjectText.size() > 256) {
filter thumbnail: sides swapped ;; integrations/psplugin/PSPluginData.cpp ;; height > width ? cv::Size(200, int(longSide)) : cv::Size(int(longSide), 200) ;; height > width ? cv::Size(int(longSide), 200) : cv::Size(200, int(longSide))
cli arguments: program name taken as a file ;; integrations/cliplugin/LaunchArguments.cpp ;; for (qsizetype i = 1; i < arguments.size(); ++i) { ;; for (qsizetype i = 0; i < arguments.size(); ++i) {
cli arguments: editor name keeps the equals sign ;; integrations/cliplugin/LaunchArguments.cpp ;; QString value = hasValue ? argument.mid(prefix + 1) : argument; ;; QString value = hasValue ? argument.mid(prefix) : argument;
cli detection: Lightroom matched case-sensitively ;; integrations/cliplugin/EditorNames.cpp ;; processName.contains(QLatin1String("lightroom"), Qt::CaseInsensitive) ;; processName.contains(QLatin1String("lightroom"), Qt::CaseSensitive)
cli events: drops taken in editor mode ;; integrations/cliplugin/CLIPluginData.cpp ;; bool CLIPluginData::handleDrop(const QDropEvent &event)\n{\n    if (isPluginMode()) ;; bool CLIPluginData::handleDrop(const QDropEvent &event)\n{\n    if (!isPluginMode())
cli files: sidecars rejected, other formats dropped silently ;; integrations/cliplugin/FileIntake.cpp ;; } else if (ext != QLatin1String("xmp")) { ;; } else if (ext == QLatin1String("xmp")) {
cli loading: result of another file accepted ;; integrations/cliplugin/ImageLoadChain.cpp ;; if (imageData.value(ImageDataKeys::FilePath) != QVariant(m_currentFile)) ;; if (imageData.value(ImageDataKeys::FilePath) == QVariant(m_currentFile))
cli saving: Apple Photos copy-back taken for every editor ;; integrations/cliplugin/SaveBack.cpp ;; return m_shared.forcedEditor() == ApplePhotos; ;; return m_shared.forcedEditor() != ApplePhotos;
cli merging: merged files not marked as merged ;; integrations/cliplugin/CLIPluginData.cpp ;; announceFiles(true); ;; announceFiles(false);
imaging: crop bottom measured on the width ;; imaging/ImageData.cpp ;; clampedEdge(r.bottom(), m_image.rows) ;; clampedEdge(r.bottom(), m_image.cols)
imaging: alpha dropped for formats that keep it ;; imaging/OvImageWriter.cpp ;; region.channels() == 4 && !encoding.alpha ;; region.channels() == 4 && encoding.alpha
imaging: upright files rotated, rotated ones not ;; imaging/OvImageReaderWorker.cpp ;; if (orientation != 1) { ;; if (orientation == 1) {
imaging: newer thumbnail remade, stale one kept ;; imaging/OvImageUtils.cpp ;; thumbnail.lastModified() < source.lastModified() ;; thumbnail.lastModified() > source.lastModified()
imaging: thumbnail sized by its short side ;; imaging/ThumbnailMaker.cpp ;; const int longSide = std::max(image.cols, image.rows); ;; const int longSide = std::min(image.cols, image.rows);
app: first option taken as the program ;; app/LaunchOptions.cpp ;; if (i == 0) { ;; if (i == 1) {
app: filter settings stored only outside a filter ;; app/HeadlessRun.cpp ;; if (m_integrations->pluginType() == OvIntegrations::PSFilter) ;; if (m_integrations->pluginType() != OvIntegrations::PSFilter)
app: handoff accepted without the magic word ;; app/HandOffReader.cpp ;; qFromBigEndian<quint32>(m_header.constData()) != Magic ;; qFromBigEndian<quint32>(m_header.constData()) == Magic + 1
TABLE
)

# apply FILE ORIGINAL REPLACEMENT: literal replacement of the single occurrence, or exit 3.
apply() {
    python3 - "$@" <<'PY'
import sys
path, original, replacement = sys.argv[1], sys.argv[2].replace('\\n', '\n'), sys.argv[3].replace('\\n', '\n')
text = open(path, encoding='utf-8').read()
count = text.count(original)
if count != 1:
    sys.stderr.write(f"seed-faults: original text found {count} times in {path}: {sys.argv[2]!r}\n")
    sys.exit(3)
open(path, 'w', encoding='utf-8').write(text.replace(original, replacement))
PY
}

# found FILE ORIGINAL: succeeds when the original occurs exactly once.
found() {
    python3 - "$@" <<'PY'
import sys
path, original = sys.argv[1], sys.argv[2].replace('\\n', '\n')
try:
    count = open(path, encoding='utf-8').read().count(original)
except OSError:
    count = -1
sys.exit(0 if count == 1 else 1)
PY
}

field() { awk -F ' ;; ' -v n="$2" '{ print $n }' <<<"$1"; }

# runSuite LOG [CTEST ARGS...]: the suite, ended as soon as one test has failed or has run longer than TIMEOUT
# seconds (ctest would wait for the tests still running, and a fault often makes a test hang
# until the suite's own limit of 300 s). HUNG names a test that was stopped that way.
SUITE=""
HUNG=""
runSuite() {
    local log=$1
    shift
    local -A started=()
    HUNG=""
    : >"$log.suite"
    setsid ctest --test-dir "$BUILD_DIR" -j "$JOBS" --output-on-failure "$@" >>"$log.suite" 2>&1 &
    SUITE=$!
    echo "$SUITE" >"$BUILD_DIR/seed-suite.pid"
    while kill -0 "$SUITE" 2>/dev/null; do
        local name
        for name in $(grep -oE 'Start +[0-9]+: [^ ]+' "$log.suite" | awk '{print $3}'); do
            [ -n "${started[$name]:-}" ] || started[$name]=$SECONDS
            if ! grep -qE "Test +#[0-9]+: $name " "$log.suite" && [ $((SECONDS - started[$name])) -gt "$TIMEOUT" ]; then
                HUNG=$name
            fi
        done
        if [ -n "$HUNG" ] || grep -qE '\*\*\*(Failed|Timeout|Exception)|Subprocess aborted|SEGFAULT' "$log.suite"; then
            kill -TERM -- "-$SUITE" 2>/dev/null
            wait "$SUITE" 2>/dev/null
            SUITE=""
            rm -f "$BUILD_DIR/seed-suite.pid"
            cat "$log.suite" >>"$log"
            return 1
        fi
        sleep 2
    done
    wait "$SUITE"
    local status=$?
    SUITE=""
    rm -f "$BUILD_DIR/seed-suite.pid"
    cat "$log.suite" >>"$log"
    return $status
}

# failingTest LOG: the first test that failed or hung in the last suite run.
failingTest() {
    local failed
    failed=$(grep -E '^\s*[0-9]+/[0-9]+ Test +#[0-9]+: .*(Failed|Timeout|Exception)' "$1.suite" | head -1 \
             | sed -E 's/.*: ([^ ]+) .*/\1/')
    echo "${failed:-$HUNG}"
}

# caughtBy LOG: runs the suite until a test fails twice in a row, once in the suite and once on
# its own; a test that then passes failed for another reason (the machine's load, another run of
# the shared-memory tests) and is left out of the next attempt. Prints the test, empty if none.
caughtBy() {
    local excluded="" test
    for attempt in 1 2 3; do
        if runSuite "$1" ${excluded:+-E "$excluded"}; then
            return 0
        fi
        test=$(failingTest "$1")
        [ -n "$test" ] || { echo "?"; return 0; }
        if ! timeout "$TIMEOUT" ctest --test-dir "$BUILD_DIR" -R "^$test\$" --output-on-failure >>"$1" 2>&1; then
            echo "$test"
            return 0
        fi
        echo "seed-faults: $test failed once, passed on its own; run again without it" >>"$1"
        excluded=${excluded:+$excluded|}^$test\$
    done
    echo "?"
}

BACKUP=""
TARGET=""
restore() {
    # The suite runs in a session of its own, started from a subshell: stop it by its recorded id.
    [ -f "$BUILD_DIR/seed-suite.pid" ] && kill -TERM -- "-$(cat "$BUILD_DIR/seed-suite.pid")" 2>/dev/null
    rm -f "$BUILD_DIR/seed-suite.pid"
    if [ -n "$BACKUP" ] && [ -f "$BACKUP" ]; then
        # A new modification time, so that the next build compiles the original again.
        cp "$BACKUP" "$TARGET"
        rm -f "$BACKUP"
        BACKUP=""
    fi
}
trap 'restore' EXIT
trap 'restore; echo "seed-faults: interrupted" >&2; exit 130' INT TERM

mapfile -t LINES <<<"$FAULTS"

if [ "$MODE" = list ]; then
    for i in "${!LINES[@]}"; do
        printf '%2d  %-60s %s\n' $((i + 1)) "$(field "${LINES[$i]}" 1)" "$(field "${LINES[$i]}" 2)"
    done
    exit 0
fi

bad=0
for i in "${!LINES[@]}"; do
    line=${LINES[$i]}
    if ! found "$ROOT/$(field "$line" 2)" "$(field "$line" 3)"; then
        echo "seed-faults: fault $((i + 1)) ($(field "$line" 1)): original text not found exactly once in $(field "$line" 2)" >&2
        bad=1
    fi
done
[ "$bad" = 0 ] || exit 3
if [ "$MODE" = check ]; then
    echo "seed-faults: all ${#LINES[@]} original texts found"
    exit 0
fi

cd "$ROOT"
# A fault changes one file; without relinking every program against a changed shared library
# (they load it when they start), a fault costs one compile and one link.
if ! grep -qs 'CMAKE_LINK_DEPENDS_NO_SHARED:BOOL=ON' "$BUILD_DIR/CMakeCache.txt"; then
    mkdir -p "$BUILD_DIR"
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DLUMIVEX_BUILD_BENCHMARKS=OFF -DCMAKE_LINK_DEPENDS_NO_SHARED=ON >"$BUILD_DIR/seed-configure.log" 2>&1 || {
        cat "$BUILD_DIR/seed-configure.log" >&2; exit 1; }
fi
JOBS=${JOBS:-2}
echo "seed-faults: building the unmodified code in $BUILD_DIR"
cmake --build "$BUILD_DIR" -j "$JOBS" >"$BUILD_DIR/seed-build.log" 2>&1 || {
    tail -40 "$BUILD_DIR/seed-build.log" >&2; echo "seed-faults: the unmodified code does not build" >&2; exit 1; }

caught=0
missed=0
results=()
started=$(date +%s)
for i in "${!LINES[@]}"; do
    n=$((i + 1))
    case "$ONLY" in ""|*",$n,"*) ;; *) continue ;; esac
    line=${LINES[$i]}
    name=$(field "$line" 1)
    TARGET="$ROOT/$(field "$line" 2)"
    BACKUP=$(mktemp)
    cp -p "$TARGET" "$BACKUP"
    apply "$TARGET" "$(field "$line" 3)" "$(field "$line" 4)"
    t0=$(date +%s)
    if ! cmake --build "$BUILD_DIR" -j "$JOBS" >"$BUILD_DIR/seed-fault-$n.log" 2>&1; then
        verdict="caught (does not build)"
        caught=$((caught + 1))
    else
        test=$(caughtBy "$BUILD_DIR/seed-fault-$n.log")
        if [ -z "$test" ]; then
            verdict="MISSED"
            missed=$((missed + 1))
        else
            verdict="caught by $test"
            caught=$((caught + 1))
        fi
    fi
    restore
    row=$(printf '%2d  %-62s %-40s %4ss' "$n" "$name" "$verdict" $(( $(date +%s) - t0 )))
    results+=("$row")
    echo "$row"
done

# Leave the build matching the restored sources.
cmake --build "$BUILD_DIR" -j "$JOBS" >"$BUILD_DIR/seed-build.log" 2>&1 || true

echo
echo "seed-faults: $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?') $(date -u +%FT%TZ)"
printf '%s\n' "${results[@]}"
echo "total: $caught caught, $missed missed of $((caught + missed)) in $(( ($(date +%s) - started) / 60 )) min"
