#!/bin/sh
# Makes the certificate chains the check tests read: DER files (and PEM for
# cafile and pbxsim) in the directory given. Needs the openssl command.
# usage: make_chains.sh <directory>
set -eu
out=$1
mkdir -p "$out"
cd "$out"
mkdir -p new
: >index.txt
echo 1000 >serial
cat >ca.cnf <<'CNF'
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
[ ca ]
default_ca = qv
[ qv ]
database = index.txt
new_certs_dir = new
serial = serial
default_md = sha256
policy = anything
unique_subject = no
email_in_dn = no
[ anything ]
commonName = optional
organizationName = optional
[ root ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ inter ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
[ noca ]
basicConstraints = critical, CA:FALSE
[ leaf ]
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
subjectAltName = DNS:pbx.example.com, DNS:alt.example.org, IP:127.0.0.1, IP:::1
[ wild ]
subjectAltName = DNS:*.example.com
[ cnonly ]
basicConstraints = CA:FALSE
[ odd ]
basicConstraints = CA:FALSE
subjectAltName = DNS:pbx.example.com
1.2.3.4.5 = critical, ASN1:NULL
CNF
rsa() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1.key" 2>/dev/null; }
stamp() { date -u -d "$1" +%Y%m%d%H%M%SZ; }
# root name subject key digest [days]
# SIGOPTS: extra signing options (RSA-PSS padding), empty by default.
SIGOPTS=
root() {
  openssl req -config ca.cnf -x509 -new -key "$3.key" -subj "$2" "-$4" -days "${5:-3650}" -extensions root \
    -set_serial 1 $SIGOPTS -out "$1.pem"
}
# sign name subject key issuer digest extensions [start end]
sign() {
  openssl req -config ca.cnf -new -key "$3.key" -subj "$2" -out "$1.csr"
  openssl ca -config ca.cnf -batch -notext -preserveDN -cert "$4.pem" -keyfile "$4.issuerkey" -md "$5" $SIGOPTS \
    -extfile ca.cnf -extensions "$6" -startdate "${7:-$(stamp '-1 day')}" -enddate "${8:-$(stamp '+400 days')}" \
    -in "$1.csr" -out "$1.pem" 2>/dev/null
  rm -f "$1.csr"
}
issuer() { cp "$2.key" "$1.issuerkey"; }
rsa root; rsa inter; rsa leaf; rsa other
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.key 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec2.key 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out ec384.key 2>/dev/null
openssl genpkey -algorithm RSA-PSS -pkeyopt rsa_keygen_bits:2048 -out pss.key 2>/dev/null

root root "/O=Quorvel Test/CN=Quorvel Test Root" root sha256 20000
issuer root root
sign inter "/O=Quorvel Test/CN=Quorvel Test Intermediate" inter root sha384 inter
issuer inter inter
sign leaf "/O=Quorvel Test/CN=pbx.example.com" leaf inter sha256 leaf
sign wild "/CN=wildcard" leaf inter sha512 wild
sign cnonly "/O=Quorvel Test/CN=pbx.example.com" leaf inter sha256 cnonly
sign expired "/CN=expired" leaf inter sha256 leaf "$(stamp '-30 days')" "$(stamp '-1 day')"
sign future "/CN=future" leaf inter sha256 leaf "$(stamp '+1 day')" "$(stamp '+30 days')"
sign oddext "/CN=odd" leaf inter sha256 odd
sign inter_old "/CN=Expired Intermediate" inter root sha256 inter "$(stamp '-30 days')" "$(stamp '-1 day')"
issuer inter_old inter
sign leaf_old "/CN=pbx.example.com" leaf inter_old sha256 leaf
sign inter_noca "/CN=Not A CA" inter root sha256 noca
issuer inter_noca inter
sign leaf_noca "/CN=pbx.example.com" leaf inter_noca sha256 leaf
sign inter_sha1 "/CN=SHA-1 Intermediate" inter root sha1 inter
issuer inter_sha1 inter
sign leaf_sha1i "/CN=pbx.example.com" leaf inter_sha1 sha256 leaf
root root_sha1 "/CN=SHA-1 Root" root sha1
issuer root_sha1 root
sign inter_r1 "/CN=Under SHA-1 Root" inter root_sha1 sha256 inter
issuer inter_r1 inter
sign leaf_r1 "/CN=pbx.example.com" leaf inter_r1 sha256 leaf
root other_root "/CN=Other Root" other sha256
issuer other_root other
sign other_inter "/CN=Other Intermediate" inter other_root sha256 inter
issuer other_inter inter
sign leaf_other "/CN=pbx.example.com" leaf other_inter sha256 leaf
root ec_root "/CN=EC Root" ec sha256
issuer ec_root ec
sign ec_leaf "/CN=pbx.example.com" ec ec_root sha256 leaf
sign leaf_by_ec "/CN=pbx.example.com" leaf ec_root sha256 leaf
sign ec_leaf512 "/CN=pbx.example.com" ec ec_root sha512 leaf
root ec384_root "/CN=EC P-384 Root" ec384 sha384
issuer ec384_root ec384
sign ec384_leaf "/CN=pbx.example.com" ec384 ec384_root sha384 leaf
# The EC root's name on another P-256 key.
root ec_root_twin "/CN=EC Root" ec2 sha256
# An RSA root with the EC root's name: what it "signed" claims ECDSA.
root ec_name_rsa_root "/CN=EC Root" other sha256
SIGOPTS="-sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:digest"
root pss_root "/CN=PSS Root" pss sha256
issuer pss_root pss
sign pss_leaf "/CN=pbx.example.com" pss pss_root sha384 leaf
sign pss_by_rsa "/CN=pbx.example.com" leaf root sha256 leaf
SIGOPTS="-sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:max"
sign pss_maxsalt "/CN=pbx.example.com" leaf root sha256 leaf
SIGOPTS=

for f in *.pem; do
  case $f in *.key) ;; *) openssl x509 -in "$f" -outform DER -out "${f%.pem}.der" ;; esac
done
cat leaf.pem inter.pem >server_chain.pem
openssl x509 -in leaf.pem -noout -fingerprint -sha256 | sed 's/^[^=]*=//' >leaf.fingerprint
rm -rf new index.txt* serial* ca.cnf *.issuerkey
