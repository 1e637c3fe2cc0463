#!/usr/bin/env bash
# The main job: both round trips of the integrations library, end to end, on images the demo
# makes itself, without a display.
#   (a) filter host:     ovfilterhost sample.png sample-filtered.png -- lumivex --auto=enhance
#   (b) external editor: lumivex --auto=enhance --editor="Capture One" photo-edit.jpg
# Usage: tools/demo.sh [BUILD_DIR]   (default build/default; `make demo` builds first)
set -euo pipefail

build_dir=${1:-build/default}
bin="$build_dir/bin"
for program in lumivex lumivex-sample ovfilterhost; do
    if [ ! -x "$bin/$program" ]; then
        echo "demo: $bin/$program is missing; build first (make demo does)" >&2
        exit 1
    fi
done

export QT_QPA_PLATFORM=offscreen
demo_dir="$build_dir/demo"
rm -rf "$demo_dir"
mkdir -p "$demo_dir/tmp"
# Thumbnails and other temporary files of the runs stay inside the demo folder.
export TMPDIR="$(cd "$demo_dir/tmp" && pwd)"

field() { # field NAME LINE: the value of NAME=... in a summary line (quoted or not)
    sed -n "s/.*[[:space:]]$1=\"\([^\"]*\)\".*/\1/p; t; s/.*[[:space:]]$1=\([^[:space:]]*\).*/\1/p" <<<" $2" | head -n 1
}

echo "Lumivex demo — build folder: $build_dir, results in: $demo_dir"
"$bin/lumivex-sample" 1200x800 "$demo_dir/sample.png" "$demo_dir/photo.jpg"
echo "Sample images: $demo_dir/sample.png, $demo_dir/photo.jpg (1200x800, made by lumivex-sample)"

status=0

echo
echo "== (a) Filter-host round trip"
echo "   ovfilterhost sample.png sample-filtered.png -- lumivex --auto=enhance"
log_a="$demo_dir/filter-host.log"
set +e
"$bin/ovfilterhost" --settings-out "$demo_dir/filter-settings.json" \
    "$demo_dir/sample.png" "$demo_dir/sample-filtered.png" -- "$bin/lumivex" --auto=enhance >"$log_a" 2>"$demo_dir/filter-host.stderr"
code_a=$?
set -e
run_a=$(grep -m1 '^lumivex: auto run' "$log_a" || true)
loaded_a=$(grep -m1 '^lumivex: loaded ' "$log_a" || true)
summary_a=$(grep -m1 '^ovfilterhost: status=' "$log_a" || true)
settings_a=$(grep -m1 '^lumivex: settings ' "$log_a" || true)
echo "   mode:     $(field mode "$run_a") (filter host), marker Orvane_Lumivex_PS_Plugin"
echo "   host:     $(field host "$summary_a")"
echo "   image:    $(field size "$loaded_a"), $(field channels "$loaded_a") channels (16-bit planes through shared memory)"
echo "   status:   $(field status "$summary_a") $( [ "$(field status "$summary_a")" = 0 ] && echo '(image delivered)' || echo "(message: $(field message "$summary_a"))"), lumivex exit $(field exit "$summary_a"), ovfilterhost exit $code_a"
echo "   settings: ${settings_a#lumivex: settings }"
echo "   output:   $demo_dir/sample-filtered.png"
echo "   log:      $log_a"
[ "$code_a" -eq 0 ] || status=1

echo
echo "== (b) External-editor round trip"
echo "   lumivex --auto=enhance --editor=\"Capture One\" photo-edit.jpg"
cp "$demo_dir/photo.jpg" "$demo_dir/photo-edit.jpg"
before=$(md5sum <"$demo_dir/photo-edit.jpg")
log_b="$demo_dir/external-editor.log"
set +e
"$bin/lumivex" --auto=enhance --editor="Capture One" "$demo_dir/photo-edit.jpg" >"$log_b" 2>"$demo_dir/external-editor.stderr"
code_b=$?
set -e
after=$(md5sum <"$demo_dir/photo-edit.jpg")
run_b=$(grep -m1 '^lumivex: auto run' "$log_b" || true)
loaded_b=$(grep -m1 '^lumivex: loaded ' "$log_b" || true)
saved_b=$(grep -m1 '^lumivex: saved ' "$log_b" || true)
echo "   mode:     $(field mode "$run_b") (external editor: $(field pluginMode "$run_b"))"
echo "   editor:   $(field name "$run_b")"
echo "   image:    $(field size "$loaded_b"), $(field channels "$loaded_b") channels"
echo "   status:   $( [ -n "$saved_b" ] && echo saved || echo 'not saved'), lumivex exit $code_b, file $( [ "$before" != "$after" ] && echo 'rewritten in place' || echo 'unchanged')"
echo "   output:   $(field outputPath "$saved_b") (the original stays in $demo_dir/photo.jpg)"
echo "   log:      $log_b"
[ "$code_b" -eq 0 ] && [ "$before" != "$after" ] || status=1

echo
if [ "$status" -eq 0 ]; then
    echo "Both round trips succeeded."
else
    echo "A round trip failed; see the logs above." >&2
fi
exit "$status"
