# shellcheck shell=bash
# Sourced by the project's scripts: installs the Debian packages the build
# and the tests need, when any is missing (as root, or through sudo).

RECORDER_PACKAGES="build-essential cmake pkg-config libsdl1.2-dev libsdl-image1.2-dev \
libsdl-ttf2.0-dev libinih-dev libpng-dev fonts-nanum googletest libgtest-dev"
# The handheld program on a PC (scripts/handheld-on-pc.sh): a sound server and
# its OSS emulation, a display of its own, keys and clicks.
RECORDER_PACKAGES="$RECORDER_PACKAGES pulseaudio pulseaudio-utils xvfb xdotool"

recorder_install_missing() {
    local missing=""
    for package in $RECORDER_PACKAGES "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing="$missing $package"
    done
    [ -z "$missing" ] && return 0
    echo "Installing Debian packages:$missing"
    local as_root=""
    [ "$(id -u)" -eq 0 ] || as_root="sudo"
    # shellcheck disable=SC2086
    $as_root apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -qq --no-install-recommends $missing
}

# The Debian packages an ARM build needs besides the PC's, for the variants
# given (others are ignored): the cross compiler, the emulator the tests run
# under, mount and inotify-tools for the throwaway root the installed program
# is tried in, and mmdebstrap, which makes the sysroot unless RECORDER_SYSROOT
# names one. The board (scripts/board.sh) needs the armel build and the
# emulated board, the modules' dependencies worked out (kmod), the
# initramfs packed (cpio), the card made, read and checked (dosfstools,
# mtools), and its emulator's monitor reached (socat).
recorder_cross_packages() {
    local packages="" arm=""
    for variant in "$@"; do
        case "$variant" in
        board) packages="$packages g++-arm-linux-gnueabi qemu-system-arm kmod cpio dosfstools mtools socat" arm=1 ;;
        armel) packages="$packages g++-arm-linux-gnueabi" arm=1 ;;
        armhf) packages="$packages g++-arm-linux-gnueabihf" arm=1 ;;
        arm64) packages="$packages g++-aarch64-linux-gnu" arm=1 ;;
        esac
    done
    [ -z "$arm" ] && return 0
    packages="$packages qemu-user mount inotify-tools"
    [ -n "${RECORDER_SYSROOT:-}" ] || packages="$packages mmdebstrap"
    echo "$packages"
}

# Configures and builds one variant of the test suite, or of the handheld's
# package: recorder_build_variant VARIANT [TARGET...], where VARIANT is plain,
# asan, tsan, armel, armhf, arm64 or board (its own targets). Sets
# RECORDER_BUILD_DIR.
recorder_build_variant() {
    local variant="$1" options=""
    shift
    RECORDER_BUILD_DIR="$RECORDER_TOP/build-$variant"
    case "$variant" in
    plain) RECORDER_BUILD_DIR="$RECORDER_TOP/build" options="-DRECORDER_SANITIZE=" ;;
    asan) options="-DRECORDER_SANITIZE=address" ;;
    tsan) options="-DRECORDER_SANITIZE=thread" ;;
    board)
        # The handheld's package and the board's hands, then the PC's tests
        # that boot them.
        "$RECORDER_TOP/scripts/package.sh" armel >/dev/null
        recorder_build_variant armel boardtool oss-probe
        local armel="$RECORDER_BUILD_DIR"
        RECORDER_BUILD_DIR="$RECORDER_TOP/build-board"
        recorder_build "$RECORDER_BUILD_DIR" "-DRECORDER_SANITIZE= \
-DRECORDER_BOARD_PACKAGE=$RECORDER_TOP/dist/recorder-armel.tar.gz \
-DRECORDER_BOARD_TOOLS=$armel/tests" board_tests
        return
        ;;
    armel | armhf | arm64)
        local sysroot
        sysroot=${RECORDER_SYSROOT:-$("$RECORDER_TOP/scripts/sysroot.sh" "$variant")}
        options="-DCMAKE_TOOLCHAIN_FILE=$RECORDER_TOP/cmake/$variant.cmake -DCMAKE_SYSROOT=$sysroot"
        # What was found in another sysroot stays in the cache: start afresh.
        local cache="$RECORDER_BUILD_DIR/CMakeCache.txt"
        if [ -f "$cache" ] && ! grep -qx "CMAKE_SYSROOT:[A-Z]*=$sysroot" "$cache"; then
            rm -rf "$RECORDER_BUILD_DIR"
        fi
        ;;
    *) echo "unknown variant $variant (plain, asan, tsan, armel, armhf, arm64, board)" >&2; return 2 ;;
    esac
    recorder_build "$RECORDER_BUILD_DIR" "$options" "$@"
}

# Configures and builds one folder: recorder_build DIR "CMAKE OPTIONS" [TARGET...]
recorder_build() {
    local dir="$1" options="$2"
    shift 2
    local targets=()
    for target in "$@"; do targets+=(--target "$target"); done
    # shellcheck disable=SC2086
    cmake -S "$RECORDER_TOP" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo $options >/dev/null &&
        cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
}
