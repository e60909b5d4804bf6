#!/usr/bin/env bash
# Compiles the HLSL kernels to shader model 5.0 DXBC with the fetched vkd3d-compiler, renames
# the program chunk to SHEX, marks its float arithmetic precise and re-signs each container,
# validates each against the kernel interface, and only then writes them with a note of the
# compiler that made them.
#
# Usage: tools/dxbc/compile_kernels.sh --tool PYRIX_DXBC --compiler-dir DIR --out DIR
#                                      [--compare DIR]
#   --tool          the pyrix_dxbc program of a build
#   --compiler-dir  private folder for the fetched compiler (see fetch_compiler.sh)
#   --out           where the .dxbc files of kernel_list below and compiler.txt go
#   --compare       also report whether the result is byte-identical to the files in DIR
# Exit status: 0 done, 1 compilation or validation failed, 2 compiler not available.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
kernels="$(cd "$here/../../kernels" && pwd)"
tool="" compiler_dir="" out="" compare=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --tool) tool="$2"; shift 2 ;;
    --compiler-dir) compiler_dir="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --compare) compare="$2"; shift 2 ;;
    *) echo "compile_kernels: unknown argument $1" >&2; exit 1 ;;
  esac
done
if [[ -z "$tool" || -z "$compiler_dir" || -z "$out" ]]; then
  echo "usage: compile_kernels.sh --tool PYRIX_DXBC --compiler-dir DIR --out DIR [--compare DIR]" >&2
  exit 1
fi

status=0
"$here/fetch_compiler.sh" "$compiler_dir" || status=$?
if [[ $status -ne 0 ]]; then
  echo "compile_kernels: no HLSL compiler available, nothing compiled" >&2
  exit 2
fi
compiler="$(cd "$compiler_dir" && pwd)/bin/vkd3d-compiler"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The compiler has no include-path option: it resolves #include from the working folder.
# kind:entry point:source:output
kernel_list=("anchor:AnchorKernel:anchor_kernel:anchor_kernel" "fire:FireKernel:fire_kernel:fire_kernel"
             "firebuffer:FireKernelToBuffer:fire_kernel:fire_buffer_kernel"
             "fire:FireKernelRedo:fire_kernel_redo:fire_kernel_redo"
             "firebuffer:FireKernelToBufferRedo:fire_kernel_redo:fire_buffer_kernel_redo"
             "convert:ConvertKernel:convert_kernel:convert_kernel")
names=()
for entry in "${kernel_list[@]}"; do
  IFS=: read -r kind entry_point source name <<< "$entry"
  names+=("$name")
  (cd "$kernels" && "$compiler" -x hlsl -p cs_5_0 -e "$entry_point" -b dxbc-tpf \
      -o "$work/$name.raw.dxbc" "$source.hlsl")
  "$tool" resign "$work/$name.raw.dxbc" "$work/$name.dxbc"
  "$tool" validate "$kind" "$work/$name.dxbc"
done

{
  echo "# The compiler that made the .dxbc files beside this one (tools/dxbc/compile_kernels.sh)."
  "$compiler" --version
  sed 's/^/package /' "$compiler_dir/versions.txt"
  echo "command vkd3d-compiler -x hlsl -p cs_5_0 -e ENTRY -b dxbc-tpf; SHDR renamed to SHEX, float add/mul marked precise, re-signed"
} > "$work/compiler.txt"

# With the compiler recorded beside the committed files, different bytes mean the committed
# bytecode no longer matches the HLSL sources.
stale=0
if [[ -n "$compare" ]]; then
  same_compiler=0
  if cmp -s "$work/compiler.txt" "$compare/compiler.txt"; then same_compiler=1; fi
  for name in "${names[@]}"; do
    if cmp -s "$work/$name.dxbc" "$compare/$name.dxbc"; then
      echo "$name.dxbc: identical to $compare/$name.dxbc"
    elif [[ $same_compiler -eq 1 ]]; then
      echo "$name.dxbc: $compare/$name.dxbc is stale; rebuild it with the target kernel_bytecode_update" >&2
      stale=1
    else
      echo "$name.dxbc: valid, differs from $compare/$name.dxbc (another compiler version)"
    fi
  done
fi

mkdir -p "$out"
for name in "${names[@]}"; do cp "$work/$name.dxbc" "$out/"; done
cp "$work/compiler.txt" "$out/"
echo "compile_kernels: wrote the kernels and compiler.txt to $out"
exit $stale
