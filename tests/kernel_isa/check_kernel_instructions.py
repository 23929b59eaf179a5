#!/usr/bin/env python3
"""check_kernel_instructions.py MANIFEST [OBJDUMP [NM]]

Fails unless every kernel of the kernel tables uses only instructions of the features its table
entry lists. MANIFEST is the kernel_manifest program: it prints each kernel's family, name, needed
features and the offset of its function from an anchor function. The kernel's code (and every
function it calls or jumps to, such as its portable tail or a .cold part) is read from MANIFEST's
own disassembly, each instruction is mapped to the processor feature it needs, and any feature
outside the list fails the check, naming the kernel and an instruction."""

import re
import subprocess
import sys

# Features the detector guarantees with a listed one: every vector feature needs AVX (OSXSAVE
# and the AVX bit), so the SSE levels below it are there too; AVX-512F is offered only with FMA
# and F16C.
IMPLIED = {
    "avx2": {"avx", "sse4"},
    "avx512f": {"avx", "sse4", "fma", "f16c"},
}

SKIPPED_PREFIXES = {"lock", "rep", "repz", "repnz", "repe", "repne", "notrack", "bnd", "data16",
                    "addr32", "cs", "ds", "es", "fs", "gs", "ss", "{evex}", "{vex}", "{vex3}"}

# TZCNT is left out: its bytes are REP BSF, which processors without BMI1 run as BSF, and
# compilers emit it for baseline code where both give the same result.
BMI1 = {"andn", "bextr", "blsi", "blsmsk", "blsr"}
BMI2 = {"bzhi", "pdep", "pext", "rorx", "sarx", "shlx", "shrx", "mulx"}
SSE4 = re.compile(
    r"^(pshufb|palignr|pabs[bwd]|phadd|phsub|pmaddubsw|pmulhrsw|psign[bwd]"  # SSSE3
    r"|pmin(sb|sd|uw|ud)|pmax(sb|sd|uw|ud)|pblend|blendv?p[sd]|ptest|pextr[bdq]|pinsr[bdq]"
    r"|pmuldq|pmulld|packusdw|pcmpeqq|pmov[sz]x|round[ps][sd]|insertps|extractps|dpp[sd]"
    r"|mpsadbw|phminposuw|movntdqa"  # SSE4.1
    r"|pcmpgtq|crc32|pcmp[ei]str[im])")  # SSE4.2
AVX512_BW = re.compile(
    r"^(vp(add|sub)(u?s)?[bw]|vpcmp(eq|gt|n?eq|n?l[te]|u)?u?[bw]|vpmin[su][bw]|vpmax[su][bw]"
    r"|vpshufb|vpshuf[hl]w|vpmov[bw]2m|vpmovm2[bw]|vptestn?m[bw]|vpblendm[bw]|vmovdqu(8|16)"
    r"|vpmaddubsw|vpmaddwd|vpmulh(u|rs)?w|vpmullw|vps(ll|rl|ra)v?w|vpunpck[hl](bw|wd)"
    r"|vpack[su]s(wb|dw)|vpabs[bw]|vpalignr|vpavg[bw]|vpsadbw|vdbpsadbw|vperm(i2|t2)?w"
    r"|vpbroadcast[bw]|vpmov[sz]xbw|vpmov(u?s)?wb|vps[lr]ldq|vpextr[bw]|vpinsr[bw])$")
AVX512_DQ = re.compile(
    r"^(vpmov[dq]2m|vpmovm2[dq]|vextract[if](32x8|64x2)|vinsert[if](32x8|64x2)"
    r"|vbroadcast[if](32x2|32x8|64x2)|vpmullq|vcvtt?p[sd]2u?qq|vcvtu?qq2p[sd]|vfpclass[ps][sd]"
    r"|vrange[ps][sd]|vreduce[ps][sd]|v(and|andn|or|xor)p[sd])$")
AVX512_CD = re.compile(r"^(vplzcnt[dq]|vpconflict[dq]|vpbroadcastm(b2q|w2d))$")
AVX512_VBMI = re.compile(r"^(vpermb|vpermi2b|vpermt2b|vpmultishiftqb)$")
AVX512_VBMI2 = re.compile(r"^(vpcompress[bw]|vpexpand[bw]|vpsh[lr]dv?[wdq])$")
AVX512_OTHER = re.compile(r"^(vpmadd52|vpdpbusd|vpdpwssd|vpopcnt|vpshufbitqmb|vgf2p8|vaes"
                          r"|vpclmul|vp2intersect|vcvtne2ps2bf16|vdpbf16ps)")
# EVEX forms of scalar work, which AVX-512F covers without VL.
EVEX_SCALAR = re.compile(r"^(vmov[dq]|vpextr[dq]|vpinsr[dq]|vmovs[sd]|vcvt.*s[sd]2|vcvts[sd]2"
                         r"|vcvtsi2|vcvtusi2|v(u)?comis[sd]|v[a-z]+s[sd])$")


def instruction_features(mnemonic, operands, encoding):
    """The features one instruction needs beyond baseline x86-64 ("other: ..." when unknown)."""
    m = mnemonic
    need = set()
    if m == "popcnt":
        need.add("popcnt")
    elif m == "lzcnt":
        need.add("lzcnt")
    elif m in BMI1:
        need.add("bmi1")
    elif m in BMI2:
        need.add("bmi2")
    if encoding == "vex":
        if m.startswith("k"):  # mask-register instructions are VEX-encoded
            if re.match(r"^k(add|test)w$", m) or m.endswith("b"):
                need.add("avx512dq")
            elif m.endswith("q") or m.endswith("d"):
                need.add("avx512bw")
            else:
                need.add("avx512f")
        elif m.startswith("vf") and ("madd" in m or "msub" in m):
            need.add("fma")
        elif m in ("vcvtph2ps", "vcvtps2ph"):
            need.add("f16c")
        elif m in BMI1 or m in BMI2:
            pass
        elif "%ymm" in operands:
            need.add("avx2")  # integer ymm work is AVX2; float ymm work (AVX) counts the same
        else:
            need.add("avx")
    elif encoding == "evex":
        need.add("avx512f")
        if "%zmm" not in operands and re.search(r"%[xy]mm", operands) and not EVEX_SCALAR.match(m):
            need.add("avx512vl")
        for feature, pattern in (("avx512bw", AVX512_BW), ("avx512dq", AVX512_DQ),
                                 ("avx512cd", AVX512_CD), ("avx512vbmi", AVX512_VBMI),
                                 ("avx512vbmi2", AVX512_VBMI2)):
            if pattern.match(m):
                need.add(feature)
        if AVX512_OTHER.match(m):
            need.add("other: " + m)
    elif encoding == "xop":
        need.add("other: " + m)
    elif SSE4.match(m):
        need.add("sse4")
    return need


def encoding_of(raw):
    """'vex', 'evex', 'xop' or 'legacy' from an instruction's bytes."""
    for byte in raw:
        if byte in ("67", "2e", "3e", "26", "64", "65", "36"):
            continue
        return {"62": "evex", "c4": "vex", "c5": "vex", "8f": "xop"}.get(byte, "legacy")
    return "legacy"


def disassemble(program, objdump):
    """Every function of `program`: name -> list of (raw bytes, mnemonic, operands)."""
    text = subprocess.run([objdump, "-d", "-w", program], check=True, capture_output=True,
                          text=True).stdout
    functions, current = {}, None
    header = re.compile(r"^[0-9a-f]+ <(.+)>:$")
    line = re.compile(r"^\s*[0-9a-f]+:\t([0-9a-f ]+)\t(.*)$")
    for row in text.splitlines():
        h = header.match(row)
        if h:
            current = functions.setdefault(h.group(1), [])
            continue
        i = line.match(row)
        if i is None or current is None:
            continue
        words = i.group(2).split("#")[0].split()
        while words and words[0] in SKIPPED_PREFIXES:
            words.pop(0)
        if not words:
            continue
        current.append((i.group(1).split(), words[0], " ".join(words[1:])))
    return functions


def symbols(program, nm):
    """Text symbols of `program`: address -> name, and name -> address."""
    out = subprocess.run([nm, "--defined-only", program], check=True, capture_output=True,
                         text=True).stdout
    by_address, by_name = {}, {}
    for row in out.splitlines():
        parts = row.split()
        if len(parts) == 3 and parts[1] in "tTwW":
            address = int(parts[0], 16)
            by_address.setdefault(address, parts[2])
            by_name[parts[2]] = address
    return by_address, by_name


def reached(function, functions):
    """`function` and every function its code calls or jumps to, directly."""
    seen, todo = set(), [function]
    target = re.compile(r"<([^>+]+)(\+0x[0-9a-f]+)?>")
    while todo:
        name = todo.pop()
        if name in seen or name not in functions:
            continue
        seen.add(name)
        for _, mnemonic, operands in functions[name]:
            if mnemonic.startswith("j") or mnemonic.startswith("call"):
                t = target.search(operands)
                if t and "@plt" not in t.group(1) and t.group(1) != name:
                    todo.append(t.group(1))
    return seen


def main():
    program = sys.argv[1]
    objdump = sys.argv[2] if len(sys.argv) > 2 else "objdump"
    nm = sys.argv[3] if len(sys.argv) > 3 else "nm"
    manifest = subprocess.run([program], check=True, capture_output=True, text=True).stdout
    functions = disassemble(program, objdump)
    by_address, by_name = symbols(program, nm)
    anchor = by_name["wavelibs_kernel_manifest_anchor"]
    failures = checked = 0
    for row in manifest.splitlines():
        family, kernel, needs, offset = row.split()
        if offset == "-":
            print("%s %s: not built" % (family, kernel))
            continue
        listed = set() if needs == "-" else set(needs.split(","))
        allowed = set(listed)
        for feature in listed:
            allowed |= IMPLIED.get(feature, set())
        name = by_address.get(anchor + int(offset))
        if name is None:
            print("%s %s: no function at offset %s" % (family, kernel, offset))
            failures += 1
            continue
        used = {}
        count = 0
        for f in sorted(reached(name, functions)):
            for raw, mnemonic, operands in functions[f]:
                count += 1
                for feature in instruction_features(mnemonic, operands, encoding_of(raw)):
                    used.setdefault(feature, "%s %s (in %s)" % (mnemonic, operands, f))
        extra = sorted(set(used) - allowed)
        checked += 1
        if extra:
            failures += 1
            print("%s %s lists %s but uses:" % (family, kernel, needs))
            for feature in extra:
                print("    %s, e.g. %s" % (feature, used[feature]))
        else:
            print("%s %s: %d instructions, features used %s, listed %s"
                  % (family, kernel, count, ",".join(sorted(used)) or "-", needs))
    if checked == 0:
        print("no kernel was checked")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
