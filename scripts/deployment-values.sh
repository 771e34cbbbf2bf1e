# Sourced by scripts/release.sh and scripts/try-release.sh. read_deployment_values FILE reads the
# deployment values, one NAME=VALUE a line ('#' starts a comment), into the array `defines` as
# cmake's -DNAME=VALUE; a relative key file is found beside the values file and must exist. A line
# of another form or a missing key file ends the script through its own `fail`.
read_deployment_values() {
    local values=$1 values_dir line name value
    values_dir=$(cd "$(dirname "$values")" && pwd)
    defines=()
    while IFS= read -r line || [[ -n "$line" ]]; do
        line=${line%$'\r'}
        [[ "$line" =~ ^[[:space:]]*(#|$) ]] && continue
        [[ "$line" =~ ^(VARNHOLD_[A-Z0-9_]+)=(.*)$ ]] || fail "$values: not a NAME=VALUE line: $line"
        name=${BASH_REMATCH[1]} value=${BASH_REMATCH[2]}
        if [[ "$name" == *_FILE && -n "$value" && "$value" != /* ]]; then
            value="$values_dir/$value"
        fi
        [[ "$name" != *_FILE || -z "$value" || -f "$value" ]] || fail "$values: $name names $value, which does not exist"
        defines+=("-D$name=$value")
    done <"$values"
}
