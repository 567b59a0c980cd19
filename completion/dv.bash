# bash completion for the dv programs                     -*- shell-script -*-
#
# Completes options, host paths and, after "image:", the names inside the
# image (listed with dvls).  Installed under each program's name so that
# bash-completion loads it on first use; it can also be sourced directly.
# DV_LS names the listing program when it is not dvls on PATH.

# The word being completed, whole: bash splits "disk.dsk:DIR/NA" at the
# colon when ':' is in COMP_WORDBREAKS, so it is taken from the line.
_dv_current_word() {
    local line=${COMP_LINE:0:COMP_POINT}
    if [[ -z ${COMP_LINE+set} ]]; then
        printf '%s' "${COMP_WORDS[COMP_CWORD]}"
        return
    fi
    [[ $line =~ [^[:space:]]*$ ]] && printf '%s' "${BASH_REMATCH[0]}"
}

# Operands (not options) before the word being completed, $1.
_dv_operands_before() {
    local words=() w n=0
    if [[ -n ${COMP_LINE+set} ]]; then
        local before=${COMP_LINE:0:COMP_POINT}
        read -ra words <<<"${before%"$1"}"
    else
        words=("${COMP_WORDS[@]:0:COMP_CWORD}")
    fi
    for w in "${words[@]:1}"; do
        [[ $w == -* ]] || n=$((n + 1))
    done
    printf '%d' "$n"
}

# Names inside an image for a word "image:dir/part": the entries of dir
# whose names start with part, letter case aside; directories end in '/'.
_dv_image_names() {
    local cur=$1
    local image=${cur%%:*} inside=${cur#*:}
    while [[ $inside == :* ]]; do inside=${inside#:}; done
    [[ -f $image || -b $image ]] || return
    local dir="" part=$inside
    if [[ $inside == */* ]]; then
        dir=${inside%/*}
        part=${inside##*/}
    fi
    local listing=$image
    local lead=${cur%"$part"}
    # A '$' of a name stands on the line as "\$", so that the shell keeps it.
    dir=${dir//\\\$/\$}
    part=${part//\\\$/\$}
    [[ -n $dir ]] && listing="$image:$dir"
    local att name
    while read -r att _ _ _ _ _ name; do
        [[ -z $name || $name == *'[damaged]'* ]] && continue
        [[ ${name,,} == "${part,,}"* ]] || continue
        name=${name//\$/\\\$}
        if [[ $att == d* ]]; then
            COMPREPLY+=("$lead$name/")
        else
            COMPREPLY+=("$lead$name")
        fi
    done < <(DV_LOCK_TIMEOUT=0 "${DV_LS:-dvls}" -e "$listing" 2>/dev/null)
}

_dv() {
    local cmd=${COMP_WORDS[0]##*/}
    local cur
    cur=$(_dv_current_word)
    COMPREPLY=()

    local opts="-h --help --version" words=""
    local images=1  # operands may be image:path
    case $cmd in
    dvinit) opts+=" -t -s -1 -2 -n -c -i -f --to"; images=0 ;;
    dvconvert) opts+=" -f --to"; images=0 ;;
    dvprune) opts+=" -q" ;;
    dvls) opts+=" -a -e -r -j -d" ;;
    dvcopy) opts+=" -t -a -r -o -u -f -L" ;;
    dvdiff) opts+=" -t -a" ;;
    dvdel) opts+=" -f" ;;
    dvcheck)
        opts+=" -r -n -v"; images=0
        # With -v, "image:dir/pattern" chooses the files listed: offer the names inside.
        [[ " ${COMP_LINE-${COMP_WORDS[*]}} " =~ [[:space:]]-[a-z]*v ]] && images=1
        ;;
    dvident) opts+=" -s -j -f" ;;
    dvboot) opts+=" -b -e -k -d -F -x" ;;
    dvmount) opts+=" -r -f -o"; images=0 ;;
    dvattr)
        # After the pathlist come attribute words, to set or (with '-') clear.
        if (($(_dv_operands_before "$cur") >= 1)); then
            words="e w r pe pw pr s -e -w -r -pe -pw -pr -s"
            opts="" images=0
        fi
        ;;
    esac

    if [[ ($cmd == dvinit || $cmd == dvconvert) && ${COMP_WORDS[COMP_CWORD - 1]} == --to ]]; then
        words="raw jvc vdk dmk"  # the containers that are written
    fi

    if [[ $cmd == dvmount && ${COMP_WORDS[COMP_CWORD - 1]} == -o ]]; then
        return  # FUSE options: nothing to offer
    fi

    if [[ -n $words ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
    elif [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$opts" -- "$cur")
    elif ((images)) && [[ $cur == *:* ]]; then
        _dv_image_names "$cur"
        # An entry that is a directory goes on: no space after it.
        if ((${#COMPREPLY[@]} == 1)) && [[ ${COMPREPLY[0]} == */ ]]; then
            compopt -o nospace 2>/dev/null
        fi
        # Bash replaces only what follows the last word break.
        if [[ $COMP_WORDBREAKS == *:* ]]; then
            local lead=${cur%"${cur##*:}"}
            COMPREPLY=("${COMPREPLY[@]#"$lead"}")
        fi
    else
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}

complete -F _dv dvinit dvspace dvtype dvnewdir dvprune dvls dvcopy dvdel dvrename dvattr dvcheck dvconvert dvident dvboot dvdiff dvundel dvmount
