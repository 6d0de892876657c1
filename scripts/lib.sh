# Shared by the scripts: package installation and the build directories.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the Debian packages listed in scripts/packages/*.txt that are not installed yet, so a
# second run costs a dpkg query and nothing more.
install_packages() {
    local wanted missing=()
    wanted=$(cat "$root"/scripts/packages/*.txt | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
    for p in $wanted; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 update -q
        as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "${missing[@]}"
    fi
}

# configure_build DIR [cmake args...]
configure_build() {
    local dir=$1; shift
    local launcher=()
    # A compiler cache, where one is installed, makes rebuilds in several checkouts cheap.
    command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
}

# The libFuzzer targets' build: clang with its sanitizers, in build/fuzz.
fuzz_build="$root/build/fuzz"
configure_fuzz_build() {
    CC=clang CXX=clang++ configure_build "$fuzz_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUMBOX_FUZZ=ON \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
}
